"""Special folders: every CSIDL with a fresh home and XDG settings of the test's own."""
import os
import pwd
import shutil
import tempfile
import unittest

import _Device
from device_support import text, text_type

XDG_VARIABLES = ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DATA_DIRS",
                 "XDG_CONFIG_DIRS")


class FreshHome(unittest.TestCase):
    def setUp(self):
        self.saved = dict((name, os.environ.get(name)) for name in XDG_VARIABLES + ("HOME",))
        self.root = tempfile.mkdtemp(prefix="w32-home-")
        self.home = os.path.join(self.root, "home")
        os.mkdir(self.home)
        os.environ["HOME"] = self.home
        for name in XDG_VARIABLES:
            os.environ.pop(name, None)

    def tearDown(self):
        for name, value in self.saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        shutil.rmtree(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def user_dirs(self, text):
        config = os.environ.get("XDG_CONFIG_HOME", os.path.join(self.home, ".config"))
        if not os.path.isdir(config):
            os.makedirs(config)
        with open(os.path.join(config, "user-dirs.dirs"), "w") as f:
            f.write(text)


class EveryCsidl(FreshHome):
    def test_every_csidl_of_the_table(self):
        os.environ.update({
            "XDG_CONFIG_HOME": self.path("config"),
            "XDG_DATA_HOME": self.path("data"),
            "XDG_CACHE_HOME": self.path("cache"),
            "XDG_STATE_HOME": self.path("state"),
            "XDG_DATA_DIRS": "relative:%s:%s" % (self.path("sysdata1"), self.path("sysdata2")),
            "XDG_CONFIG_DIRS": self.path("sysconfig"),
        })
        for folder in ("sysdata1", "sysdata2/applications", "sysdata2/fonts", "sysconfig/autostart"):
            os.makedirs(self.path(folder))
        self.user_dirs('# written by xdg-user-dirs-update\n'
                       'XDG_DESKTOP_DIR="$HOME/Schreibtisch"\n'
                       'XDG_DOCUMENTS_DIR="%s"\n'
                       'XDG_MUSIC_DIR="$HOME/Musik"\n'
                       'XDG_PUBLICSHARE_DIR="$HOME/\\"Shared\\""\n' % self.path("docs"))
        documents = self.path("docs")
        public = os.path.join(self.home, '"Shared"')
        machine = lambda path: path if os.path.isdir(path) else documents
        expected = {
            0x00: os.path.join(self.home, "Schreibtisch"),
            0x02: self.path("data", "applications"),
            0x05: documents,
            0x07: self.path("config", "autostart"),
            0x0b: self.path("data", "applications"),
            0x0d: os.path.join(self.home, "Musik"),
            0x0e: os.path.join(self.home, "Videos"),
            0x10: os.path.join(self.home, "Schreibtisch"),
            0x14: self.path("sysdata2", "fonts"),
            0x15: os.path.join(self.home, "Templates"),
            0x16: self.path("sysdata2", "applications"),
            0x17: self.path("sysdata2", "applications"),
            0x18: self.path("sysconfig", "autostart"),
            0x1a: self.path("config"),
            0x1c: self.path("data"),
            0x1d: self.path("config", "autostart"),
            0x1e: self.path("sysconfig", "autostart"),
            0x20: self.path("cache"),
            0x22: self.path("state"),
            0x23: self.path("sysdata1"),
            0x24: machine("/usr"),
            0x25: machine("/usr/lib"),
            0x26: machine("/opt"),
            0x27: os.path.join(self.home, "Pictures"),
            0x28: self.home,
            0x29: machine("/usr/lib32"),
            0x2a: machine("/opt"),
            0x2b: machine("/usr/share"),
            0x2c: machine("/usr/share"),
            0x2d: documents,  # the machine's folders are never created: documents instead
            0x2e: public,
            0x35: os.path.join(public, "Music"),
            0x36: os.path.join(public, "Pictures"),
            0x37: os.path.join(public, "Videos"),
            0x38: documents,
        }
        no_place = [0x01, 0x03, 0x04, 0x06, 0x08, 0x09, 0x0a, 0x11, 0x12, 0x13, 0x19, 0x1b, 0x1f, 0x21, 0x2f,
                    0x30, 0x31, 0x39, 0x3a, 0x3b, 0x3d]
        for csidl in no_place:
            expected[csidl] = documents
        for csidl, path in sorted(expected.items()):
            self.assertEqual(_Device.GetSystemFolder(csidl), text(path), hex(csidl))
            self.assertTrue(os.path.isdir(path), hex(csidl))
        self.assertFalse(os.path.exists(self.path("sysdata1", "templates")))

    def test_named_functions_and_their_pairs(self):
        pairs = [
            ("GetUserFolder", 0x05), ("GetDocumentFolder", 0x05), ("GetAppFolder", 0x1c),
            ("GetLocalAppDataFolder", 0x1c), ("GetCommonAppFolder", 0x23), ("GetProgramsFolder", 0x02),
            ("GetCommonProgramsFolder", 0x17), ("GetStartMenuFolder", 0x0b), ("GetPictureFolder", 0x27),
            ("GetMusicFolder", 0x0d), ("GetVideoFolder", 0x0e), ("GetCommonDocumentFolder", 0x2e),
            ("GetSharedPictureFolder", 0x36), ("GetSharedMusicFolder", 0x35), ("GetSharedVideoFolder", 0x37),
            ("GetWindowsFolder", 0x24),
        ]
        for name, csidl in pairs:
            answer = getattr(_Device, name)()
            self.assertEqual(type(answer), text_type, name)
            self.assertEqual(answer, _Device.GetSystemFolder(csidl), name)
        self.assertEqual(_Device.GetUserFolder(), text(os.path.join(self.home, "Documents")))

    def test_sample_music_lies_in_the_shared_music_folder(self):
        # Made as xdg-user-dirs makes the user's folders: 0755 less the umask.
        for umask in (0o022, 0o027):
            shutil.rmtree(os.path.join(self.home, "Public"), ignore_errors=True)
            saved = os.umask(umask)
            try:
                sample = _Device.GetSampleMusicFolder()
            finally:
                os.umask(saved)
            self.assertEqual(sample, text(os.path.join(self.home, "Public", "Music", "Sample Music")))
            for folder in (("Public",), ("Public", "Music"), ("Public", "Music", "Sample Music")):
                mode = os.stat(os.path.join(self.home, *folder)).st_mode & 0o777
                self.assertEqual(mode, 0o755 & ~umask, (folder, oct(mode)))


class BadInput(FreshHome):
    def test_values_that_name_no_folder_give_the_documents_folder(self):
        documents = text(os.path.join(self.home, "Documents"))
        for csidl in (-1, -5, -0x80000000, 0x0c, 0x0f, 0x32, 0x3c, 0x3e, 0xff, 0x10000, 0x7fffffff, 0x4005 | 0x3e):
            self.assertEqual(_Device.GetSystemFolder(csidl), documents, csidl)
        for value in (1.5, u"5", None, 2 ** 31):
            self.assertRaises((TypeError, OverflowError), _Device.GetSystemFolder, value)

    def test_deleted_folder_is_created_again(self):
        music = _Device.GetMusicFolder()
        os.rmdir(music)
        self.assertEqual(_Device.GetMusicFolder(), music)
        self.assertTrue(os.path.isdir(music))

    def test_user_dirs_that_cannot_be_read_or_make_no_sense_give_the_defaults(self):
        config = os.path.join(self.home, ".config")
        os.makedirs(os.path.join(config, "user-dirs.dirs"))  # a folder: cannot be read
        self.assertEqual(_Device.GetMusicFolder(), text(os.path.join(self.home, "Music")))
        os.rmdir(os.path.join(config, "user-dirs.dirs"))
        self.user_dirs('XDG_MUSIC_DIR=$HOME/unquoted\nXDG_VIDEOS_DIR="relative/Videos"\n'
                       'XDG_PICTURES_DIR="$HOMEPAGE"\nXDG_TEMPLATES_DIR="$HOME/unclosed\n\x00\xff\n')
        for name, default in (("GetMusicFolder", "Music"), ("GetVideoFolder", "Videos"),
                              ("GetPictureFolder", "Pictures"), ("GetSystemFolder", "Templates")):
            function = getattr(_Device, name)
            answer = function(0x15) if name == "GetSystemFolder" else function()
            self.assertEqual(answer, text(os.path.join(self.home, default)), name)

    def test_without_home_the_user_databases_home(self):
        del os.environ["HOME"]
        self.assertEqual(_Device.GetSystemFolder(0x28), text(pwd.getpwuid(os.geteuid()).pw_dir))
        os.environ["HOME"] = "relative/home"
        self.assertEqual(_Device.GetSystemFolder(0x28), text(pwd.getpwuid(os.geteuid()).pw_dir))

    def test_a_folder_that_cannot_be_created_gives_the_documents_folder(self):
        with open(os.path.join(self.home, "Music"), "w"):
            pass  # a file holds the music folder's name
        self.assertEqual(_Device.GetMusicFolder(), text(os.path.join(self.home, "Documents")))


if __name__ == "__main__":
    unittest.main()
