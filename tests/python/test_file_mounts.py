"""Files across mounts, links and users, in a private mount namespace: the
trash (read back and restored by trash-cli, as a desktop's trash would) and
whole-file writes on a full or read-only file system."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest


# Runs in the namespace: mounts, items, then each RemoveFile's answer.
SCENARIO = r"""
import os, subprocess, sys
import _Device
R = sys.argv[1]
def path(*parts):
    return os.path.join(R, *parts)
def mount(*args):
    subprocess.check_call(["mount"] + list(args))
def write(name, text="x"):
    with open(name, "w") as f:
        f.write(text)
for folder in ("home/.local/share", "data", "bind", "shared", "admin", "linked"):
    os.makedirs(path(folder))
for folder in ("data", "shared", "admin", "linked"):
    mount("-t", "tmpfs", "-o", "size=4m,mode=1777", folder, path(folder))
os.makedirs(path("data/Media/Music"))
os.symlink(path("data/Media/Music"), path("home/Music"))  # the user's music on another disk
write(path("data/Media/Music/song.mp3"), "song")
os.makedirs(path("home/sub"))
write(path("home/sub/b.txt"), "bound")
mount("--bind", path("home/sub"), path("bind"))  # the home's own file system, mounted again
write(path("data/" + "n" * 245 + ".flac"), "long")
os.mkdir(path("admin/.Trash"), 0o755)
os.chmod(path("admin/.Trash"), 0o1777)  # the administrator's shared trash
write(path("admin/x"), "admin")
os.symlink(path("data"), path("linked/.Trash"))  # a link is no shared trash
write(path("linked/y"), "linked")
# Another user prepares the victim's trash folder, open to all.
subprocess.check_call(["setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups",
                       "mkdir", "-m", "0777", path("shared/.Trash-0")])
write(path("shared/secret"), "secret")
items = ["home/Music/song.mp3", "bind/b.txt", "data/" + "n" * 245 + ".flac", "admin/x", "linked/y",
         "shared/secret"]
answers = [_Device.RemoveFile(u"%s" % path(item)) for item in items]
listed = subprocess.check_output(["trash-list"]).decode("utf-8")
restored = []
for folder, name in (("data/Media/Music", "song.mp3"), ("bind", "b.txt"), ("admin", "x"), ("linked", "y")):
    process = subprocess.Popen(["trash-restore", path(folder)], cwd=path(folder), stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    process.communicate(b"0\n")
    restored.append(open(path(folder, name)).read() if os.path.exists(path(folder, name)) else None)
print(repr((answers, listed, restored, sorted(os.listdir(path("shared"))), os.listdir(path("shared/.Trash-0")),
            os.listdir(path("data/.Trash-0/files")), oct(os.stat(path("admin/.Trash/0")).st_mode & 0o7777))))
"""

# Replaces a shortcut and an internet shortcut on a full, then a read-only, file
# system; prints the files' bytes after each step and what else is there.
WRITES = r"""
import os, subprocess, sys
import _Device, _w32
R = sys.argv[1]
full = os.path.join(R, "full")
os.mkdir(full)
subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=64k", "full", full])
_w32.CoInitialize()
link, url = os.path.join(full, "t.lnk"), os.path.join(full, "t.url")
def contents():
    return [open(link, "rb").read(), open(url, "rb").read(), sorted(os.listdir(full))]
_Device.CreateLink(u"%s/a-target" % R, u"%s" % link, u"old")
_Device.CreateInternetShortcut(u"http://old.example", u"%s" % url)
before = contents()
filler = os.open(os.path.join(full, "filler"), os.O_WRONLY | os.O_CREAT)
try:
    while True:
        os.write(filler, b"x" * 512)
except OSError:
    os.close(filler)
long_target = u"%s/%s" % (R, u"b" * 200)
_Device.CreateLink(long_target, u"%s" % link, u"new " * 200)
_Device.CreateInternetShortcut(u"http://new.example/" + u"p" * 3000, u"%s" % url)
when_full = contents()
os.remove(os.path.join(full, "filler"))
subprocess.check_call(["mount", "-o", "remount,ro", full])
_Device.CreateLink(long_target, u"%s" % link, u"new")
when_read_only = contents()
subprocess.check_call(["mount", "-o", "remount,rw", full])
_Device.CreateInternetShortcut(u"http://new.example", u"%s" % url)
print(repr((before, when_full, when_read_only, contents())))
"""


def in_private_namespace(test, code, root, env=None):
    """Runs code as root in a private mount namespace; its last line of output, evaluated."""
    with open(os.devnull, "w") as quiet:
        usable = os.geteuid() == 0 and subprocess.call(["unshare", "-m", "true"], stderr=quiet) == 0
    if not usable:
        test.skipTest("no private mount namespace here")
    output = subprocess.check_output(["unshare", "-m", "--propagation", "private", sys.executable, "-c", code, root],
                                     env=dict(os.environ, **(env or {})))
    return eval(output.strip().splitlines()[-1])


class AcrossMounts(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="trash-mounts-")
        os.chmod(self.root, 0o755)

    def tearDown(self):
        shutil.rmtree(self.root)

    def test_each_item_lands_where_its_mount_keeps_it_and_comes_back(self):
        home = os.path.join(self.root, "home")
        answers, listed, restored, shared, stolen, data_trash, admin_mode = in_private_namespace(
            self, SCENARIO, self.root, {"XDG_DATA_HOME": os.path.join(home, ".local", "share"), "HOME": home})
        self.assertEqual(answers, [True, True, True, True, True, False])
        # trash-list finds each item under the path it had, through the link and the bind mount.
        for item in ("data/Media/Music/song.mp3", "bind/b.txt", "data/" + "n" * 245 + ".flac", "admin/x",
                     "linked/y"):
            self.assertIn(os.path.join(self.root, item), listed, item)
        self.assertEqual(restored, ["song", "bound", "admin", "linked"])
        # Another user's folder takes nothing; the item stays.
        self.assertIn("secret", shared)
        self.assertEqual(stolen, [])
        # The long name's info file fits: a shortened trash name, the whole path in its info.
        self.assertEqual(len(data_trash), 1)
        self.assertLess(len(data_trash[0]) + len(".trashinfo"), 256)
        self.assertTrue(data_trash[0].endswith(".flac"))
        self.assertEqual(admin_mode, oct(0o700))

    def test_a_file_is_replaced_whole_or_not_at_all(self):
        before, when_full, when_read_only, after = in_private_namespace(self, WRITES, self.root)
        self.assertEqual(before[2], ["t.lnk", "t.url"])
        self.assertEqual(when_full[:2], before[:2])  # byte for byte
        self.assertEqual(when_full[2], ["filler", "t.lnk", "t.url"])  # nothing half written left beside
        self.assertEqual(when_read_only, before[:2] + [["t.lnk", "t.url"]])
        self.assertEqual(after[:2], [before[0], b"[InternetShortcut]\r\nURL=http://new.example\r\n"])


if __name__ == "__main__":
    unittest.main()
