"""Volumes as users plug them, on real mounts in private mount namespaces:
letters that last across processes, and shortcuts that find their volume."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

from device_support import module_file

LIB = os.path.dirname(module_file("_Device"))

# Run inside the namespace: mounts (shell commands) and the module's answers, as JSON lines.
PRELUDE = r"""
import json, os, subprocess, sys, time
sys.path.insert(0, %r)
import _Device, _w32

def sh(command):
    subprocess.check_call(command, shell=True)

class Events(object):
    def __init__(self):
        self.calls = []
        self.detector = _Device.new_Detector()
        _Device.Detector_SetCallback(self.detector, lambda *call: self.calls.append(call))

    def wait(self, count):
        deadline = time.time() + 10
        while len(self.calls) < count and time.time() < deadline:
            _w32.PumpMessages(100)
        return [tuple(part.decode() for part in call) for call in self.calls]
""" % LIB


def succeeds(command):
    with open(os.devnull, "w") as quiet:
        return subprocess.call(command, stdout=quiet, stderr=quiet) == 0


def tools_missing():
    if os.geteuid() != 0:
        return "mounts need root"
    for tool in ("unshare", "mkfs.ext4", "losetup", "lnkinfo"):
        if not succeeds(["sh", "-c", "command -v " + tool]):
            return tool + " is missing"
    if not succeeds(["unshare", "-m", "true"]):
        return "no private mount namespace here"
    return None


class Volumes(unittest.TestCase):
    def setUp(self):
        missing = tools_missing()
        if missing:
            self.skipTest(missing)
        self.root = tempfile.mkdtemp(prefix="volumes-")
        self.drives = os.path.join(self.root, "drives")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def image(self, name, uuid, label):
        """An ext4 image of its own UUID and label."""
        path = os.path.join(self.root, name + ".img")
        with open(path, "wb") as out:
            out.truncate(4 << 20)
        subprocess.check_call(["mkfs.ext4", "-q", "-F", "-U", uuid, "-L", label, path])
        return path

    def run_namespace(self, code):
        """Runs the code in a fresh private mount namespace with a /media of
        its own; the JSON lines it prints."""
        script = os.path.join(self.root, "script.py")
        with open(script, "w") as out:
            out.write(PRELUDE + "sh('mount -t tmpfs media /media')\n" + code)
        env = dict(os.environ, W32_DRIVES=self.drives)
        output = subprocess.check_output(["unshare", "-m", "--propagation", "private", sys.executable, script],
                                         env=env, universal_newlines=True)
        return [json.loads(line) for line in output.splitlines()]

    def test_thirty_volumes_one_after_another_each_get_a_letter(self):
        lines = self.run_namespace(textwrap.dedent("""
            events = Events()
            _w32.PumpMessages(300)  # the watcher reads the mount table first
            for i in range(30):
                sh("mkdir /media/V%d && mount -t tmpfs vol%d /media/V%d" % (i, i, i))
                events.wait(2 * i + 1)
                sh("umount /media/V%d" % i)
                events.wait(2 * i + 2)
            _w32.PumpMessages(200)
            print(json.dumps(events.wait(60)))
        """))
        calls = [tuple(call) for call in lines[-1]]
        self.assertEqual(len(calls), 60, calls)
        arrivals, removals = calls[0::2], calls[1::2]
        self.assertEqual(set(call[:2] for call in arrivals), {("DRIVE_CHANGE", "ARRIVE")})
        self.assertEqual(set(call[:2] for call in removals), {("DRIVE_CHANGE", "REMOVE")})
        self.assertEqual([call[2] for call in arrivals], [call[2] for call in removals])
        # D: to Z:, then again the letters of the volumes seen longest ago.
        letters = [chr(c) for c in range(ord("D"), ord("Z") + 1)]
        self.assertEqual([call[2] for call in arrivals], letters + letters[:7])

    def test_a_volume_keeps_its_letter_in_a_second_process(self):
        stick = self.image("stick", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "STICK")
        other = self.image("other", "11111111-2222-3333-4444-555566667777", "OTHER")
        names = 'print(json.dumps([_Device.GetPathDisplayName(u"D:"), _Device.GetPathDisplayName(u"E:")]))\n'
        first = ('_w32.CoInitialize()\n'
                 'sh("mkdir /media/STICK && mount -o loop %s /media/STICK")\n' % stick + names)
        # The second process sees another volume first, and the stick at another mount point.
        second = ('_w32.CoInitialize()\n'
                  'sh("mkdir /media/OTHER /media/elsewhere && mount -o loop %s /media/OTHER")\n' % other + names +
                  'sh("mount -o loop %s /media/elsewhere")\n' % stick + names)
        self.assertEqual(self.run_namespace(first), [["STICK (D:)", ""]])
        self.assertEqual(self.run_namespace(second), [["", "OTHER (E:)"], ["STICK (D:)", "OTHER (E:)"]])
        with open(os.path.join(self.drives, "volume-letters")) as remembered:
            keys = sorted(line.split("\t")[0] + line.split("\t")[2] for line in remembered.read().splitlines())
        self.assertEqual(keys, ["Duuid:0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0",
                                "Euuid:11111111-2222-3333-4444-555566667777"])

    def test_a_shortcut_finds_its_own_volume_and_never_another(self):
        stick = self.image("stick", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "STICK")
        other = self.image("other", "11111111-2222-3333-4444-555566667777", "OTHER")
        link = os.path.join(self.root, "song.lnk")
        make = """
            _w32.CoInitialize()
            sh("mkdir /media/STICK && mount -o loop %s /media/STICK && echo stick > /media/STICK/song.mp3")
            _Device.CreateLink(u"/media/STICK/song.mp3", u"%s", u"a song")
            print(json.dumps(_Device.GetLinkFile(u"%s")))
        """ % (stick, link, link)
        self.assertEqual(self.run_namespace(textwrap.dedent(make)), ["/media/STICK/song.mp3"])
        info = subprocess.check_output(["lnkinfo", link], universal_newlines=True)
        for fact in (r"Drive serial number\s*: 0xc3d2e1f0", r"Volume label\s*: STICK", r"Local path\s*: D:\\song.mp3"):
            self.assertTrue(re.search(fact, info), (fact, info))
        # Another user's letters (none remembered): the other stick comes first and is D:.
        shutil.rmtree(self.drives)
        follow = """
            _w32.CoInitialize()
            sh("mkdir /media/OTHER /media/STICK && mount -o loop %s /media/OTHER && echo other > /media/OTHER/song.mp3")
            print(json.dumps(_Device.GetLinkFile(u"%s")))
            sh("mount -o loop %s /media/STICK")
            print(json.dumps(_Device.GetLinkFile(u"%s")))
            sh("umount /media/STICK")
            print(json.dumps(_Device.GetLinkFile(u"%s")))
        """ % (other, link, stick, link, link)
        self.assertEqual(self.run_namespace(textwrap.dedent(follow)), [None, "/media/STICK/song.mp3", None])


if __name__ == "__main__":
    unittest.main()
