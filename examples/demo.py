"""A small tour of _Device doing real work on this machine, on Python 2 or 3.

What it writes (special folders, the trash, named objects, remembered drive
letters) goes to a scratch home of its own, removed at the end: the real home
stays as it is. The machine facts, the drives and the mounts are the real ones."""
from __future__ import print_function

import binascii
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import _Device
import _w32
from device_proxies import Detector, MMer, MMer2, RunningInstance

PBT_APMQUERYSUSPEND = 0
DBT_DEVICEARRIVAL = 0x8000
DBTF_MEDIA = 0x0001
BROADCAST_QUERY_DENY = 0x424D5144


def list_drives(detector):
    for index in range(26):
        kind = detector.GetDriveType(index)
        name = detector.GetDriveFriendlyName(index)
        if kind == u"DRIVE UNKNOWN" and name.endswith(u":\\"):
            continue
        line = "  %s:  %-16s %-24s" % (chr(65 + index), kind, name)
        factory = detector.GetDriveFactoryName(index)
        if factory != u"DISC UNKNOWN":
            line += " made by %r" % factory
        if detector.GetCDROMType(index) != u"DRIVE UNKNOWN":
            line += " holding %s" % detector.GetDiscType(index)
        print(line)


def print_event(what, direction, letter):
    """The three byte strings of a device change (bytes on Python 3)."""
    print("  event: %s %s %s:" % tuple(text.decode("ascii") for text in (what, direction, letter)))


def pump_for(seconds):
    until = time.time() + seconds
    while time.time() < until:
        _w32.PumpMessages(100)


def detection():
    print("Drives, displays and the machine")
    detector = Detector()
    list_drives(detector)
    print("  display adapter (PCI vendor, device): (0x%04x, 0x%04x)" % tuple(
        x & 0xFFFF for x in detector.GetVGADeviceIdentifier()))
    print("  two displays or more: %d" % detector.DetectTwinViewMode())
    print("  first camera: %r" % detector.EnumWIACameraDevice(0))
    print("  connected to the internet: %d" % detector.IsInternetConnected())
    print("  manufacturer: %r" % detector.GetSysManufacturer())
    del detector


def private_mount_events():
    """Run inside a private mount namespace: a volume mounted and unmounted under /media."""
    detector = Detector()
    detector.SetCallback(print_event)
    subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=1m", "demo-media", "/media"])
    os.mkdir("/media/DEMO")
    pump_for(0.3)
    print("  mount a volume at /media/DEMO")
    subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=1m", "demo-volume", "/media/DEMO"])
    pump_for(0.5)
    list_drives(detector)
    print("  unmount it")
    subprocess.check_call(["umount", "/media/DEMO"])
    pump_for(0.5)


def device_events():
    print("Device-change events")
    private = os.geteuid() == 0 and subprocess.call(
        ["unshare", "-m", "true"], stderr=open(os.devnull, "w")) == 0
    if private:
        sys.stdout.flush()
        subprocess.call(["unshare", "-m", "--propagation", "private", sys.executable, os.path.abspath(__file__),
                         "--private-mount-events"])
        return
    print("  no private mount namespace here (root and unshare are needed): a disc arrival injected for E:")
    detector = Detector()
    detector.SetCallback(print_event)
    _w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, DBTF_MEDIA)
    pump_for(0.2)


def single_instance():
    print("Single-instance detection")
    first = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print("  first instance sees another running:  %s" % first.IsAnotherInstanceRunning())
    second = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print("  second instance sees another running: %s" % second.IsAnotherInstanceRunning())
    first.Close()
    second.Close()


def protect_strings():
    print("Encode and decode with MMer and MMer2")
    text = b"Orvelline Calvetto: 32 bytes ..."
    mmer = MMer()
    mmer.SetParam((b"sixteen byte key", b"and its vector.."))
    encoded = mmer.Encode(text)
    print("  MMer (AES-128-CBC):    %s" % binascii.hexlify(encoded).decode())
    print("  decoded:               %r" % mmer.Decode(encoded))
    mmer2 = MMer2()
    blob = mmer2.Encode(text)
    if blob is None:
        print("  MMer2: this machine has no identity (etc/machine-id), nothing protected")
        return
    print("  MMer2 (this machine):  %d-byte blob" % len(blob))
    print("  decoded:               %r" % mmer2.Decode(blob))
    damaged = bytearray(blob)
    damaged[-1] ^= 1
    print("  damaged blob decodes:  %r" % mmer2.Decode(bytes(damaged)))


def ask_to_suspend():
    """The system's suspend query, from another thread, answered through this thread's loop."""
    answers = []
    asking = threading.Thread(target=lambda: answers.extend(_w32.BroadcastPowerEvent(PBT_APMQUERYSUSPEND)))
    asking.start()
    while asking.is_alive():
        _w32.PumpMessages(50)
    asking.join()
    return "refused" if BROADCAST_QUERY_DENY in answers else "granted"


def suspend_blocker():
    print("Suspend blocking")
    blocker = _Device.new_SuspendBlocker()
    print("  suspend query while the blocker is locked:   %s" % ask_to_suspend())
    _Device.SuspendBlocker_UnLock(blocker)
    print("  suspend query after UnLock:                  %s" % ask_to_suspend())
    _Device.delete_SuspendBlocker(blocker)


def screen_saver_timer():
    print("Screen-saver prevention: the keeper's timer, reached through the message loop")
    _w32.TakeSentInput()
    keeper = _Device.new_PreventScreenSaver()
    print("  execution state held: 0x%x (system and display required)" % _w32.ExecutionState())
    print("  pumping messages until the keeper's 10-second timer ticks...")
    started = time.time()
    sent = []  # type: list[tuple[int, ...]]
    while not sent and time.time() - started < 30:
        _w32.PumpMessages(500)
        sent = _w32.TakeSentInput()
    print("  after %.1f s the timer routine sent %d simulated mouse movement(s): %r" % (
        time.time() - started, len(sent), sent))
    _Device.delete_PreventScreenSaver(keeper)
    print("  execution state after deletion: 0x%x" % _w32.ExecutionState())


def machine_facts():
    print("Machine facts")
    print("  user:                    %s" % _Device.GetUserName())
    print("  free on this volume:     %s MB" % _Device.GetAvailableDiskSpaceMB(getattr(os, "getcwdu", os.getcwd)()))
    print("  logical processors:      %d" % _Device.GetLogicalCpuNumber())
    _w32.CoInitialize()  # WMI needs COM on this thread, as a Detector would set it up
    try:
        print("  memory (saturated int):  %s bytes" % _Device.GetTotalMemorySize())
        print("  display adapter:         %r" % (_Device.GetDisplayAdapterNames(),))
        print("  Ironlake graphics:       %s" % _Device.IsIronLake())
    finally:
        _w32.CoUninitialize()


def special_folders():
    print("Special folders (created where missing, as the platform does)")
    for name in ("GetUserFolder", "GetPictureFolder", "GetMusicFolder", "GetVideoFolder", "GetAppFolder",
                 "GetCommonAppFolder", "GetProgramsFolder", "GetCommonProgramsFolder", "GetCommonDocumentFolder",
                 "GetSharedMusicFolder", "GetWindowsFolder", "GetSampleMusicFolder"):
        print("  %-24s %s" % (name, getattr(_Device, name)()))
    print("  %-24s %s" % ("GetSystemFolder(0x20)", _Device.GetSystemFolder(0x20)))


def languages():
    print("Languages and region")
    print("  user language:           %s" % _Device.GetUserLang())
    print("  system language:         %s" % _Device.GetSystemLang())
    print("  country code:            %s" % _Device.GetSystemCountryCode())
    locales = _Device.getSystemLocales()
    print("  %d locales, for example: %s" % (
        len(locales), ", ".join("0x%04x %s" % (lcid, name) for lcid, name in locales[::len(locales) // 4])))


def print_notice(folder, kind, name, second_name):
    print("  notice: %-12s folder=%r name=%r second=%r" % (kind, folder, name, second_name))


def folder_monitoring(folder=None):
    """Watches `folder` until Ctrl-C; without one, a temporary folder that it changes itself."""
    print("Folder monitoring")
    monitor = _Device.new_MonitorFolder(print_notice)
    _Device.MonitorFolder_Start(monitor)
    if folder is not None:
        if isinstance(folder, bytes):  # Python 2's argv
            folder = folder.decode(sys.getfilesystemencoding() or "utf-8")
        if not _Device.MonitorFolder_AddFolder(monitor, folder):
            print("  %r cannot be watched" % folder)
        else:
            print("  watching %r with its subfolders; change something there, Ctrl-C ends" % folder)
            try:
                while True:
                    _w32.PumpMessages(500)
            except KeyboardInterrupt:
                print()
    else:
        root = tempfile.mkdtemp(prefix=u"demo-monitor-")  # unicode on Python 2 as well
        print("  watching %r: AddFolder -> %s" % (root, _Device.MonitorFolder_AddFolder(monitor, root)))
        _w32.PumpMessages(300)  # the worker arms its first read a moment after AddFolder

        def step(text, change):
            print("  %s" % text)
            change()
            _w32.PumpMessages(300)  # notices arrive through this thread's message loop
            while _w32.PumpMessages(100):
                pass

        step("create a.txt", lambda: open(os.path.join(root, "a.txt"), "w").close())
        step("write to a.txt", lambda: open(os.path.join(root, "a.txt"), "a").write("hello"))
        step("make the folder sub", lambda: os.mkdir(os.path.join(root, "sub")))
        step("create sub/x.txt", lambda: open(os.path.join(root, "sub", "x.txt"), "w").close())
        step("rename sub/x.txt to sub/y.txt",
             lambda: os.rename(os.path.join(root, "sub", "x.txt"), os.path.join(root, "sub", "y.txt")))
        step("delete a.txt", lambda: os.remove(os.path.join(root, "a.txt")))
        step("delete the watched folder itself", lambda: shutil.rmtree(root))
    _Device.MonitorFolder_Close(monitor)
    _Device.delete_MonitorFolder(monitor)


def shell_services():
    print("Shell services: a shortcut, a listing, the trash")
    _w32.CoInitialize()  # the shell functions use the calling thread's COM
    folder = tempfile.mkdtemp(prefix=u"device-demo-")  # unicode on Python 2 as well
    try:
        target = os.path.join(folder, u"Holiday photos.txt")
        open(target, "w").write("a target for the shortcut")
        link = os.path.join(folder, u"Holiday photos.lnk")
        _Device.CreateLink(target, link, u"Photos of the holiday")
        print("  shortcut %s: %d bytes of Shell Link format" % (os.path.basename(link), os.path.getsize(link)))
        print("  its target read back: %s" % _Device.GetLinkFile(link))
        print("  display name of the computer: %s; of C:: %s" % (
            _Device.GetMyComputerName(), _Device.GetPathDisplayName(u"C:")))
        os.mkdir(os.path.join(folder, u"subfolder"))
        open(os.path.join(folder, u".hidden"), "w").close()
        print("  ListFile(%s/*):   %r" % (folder, sorted(_Device.ListFile(folder + u"/*"))))
        print("  ListFolder(%s/*): %r" % (folder, sorted(_Device.ListFolder(folder + u"/*"))))
        doomed = os.path.join(folder, u"demo-trash-%d.txt" % os.getpid())
        open(doomed, "w").write("sent to the trash by the demo")
        print("  RemoveFile(%s): %s" % (os.path.basename(doomed), _Device.RemoveFile(doomed)))
        data_home = os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share")
        if isinstance(data_home, bytes):  # Python 2's environment
            data_home = data_home.decode("utf-8")
        trash = os.path.join(data_home, u"Trash")
        print("  in the trash folder %s: %r" % (trash, _Device.ListFile(
            os.path.join(trash, u"files", os.path.basename(doomed)))))
        info = os.path.join(trash, u"info", os.path.basename(doomed) + u".trashinfo")
        if os.path.exists(info):
            for line in open(info).read().splitlines():
                print("    " + line)
    finally:
        shutil.rmtree(folder)
        _w32.CoUninitialize()


XDG_FOLDERS = (("XDG_CONFIG_HOME", ".config"), ("XDG_DATA_HOME", ".local/share"), ("XDG_CACHE_HOME", ".cache"),
               ("XDG_STATE_HOME", ".local/state"))


def scratch_home():
    """HOME, the XDG base folders and the runtime folder in a new folder, with a
    copy of the user's drive table so the letters are the real ones. The user
    folders are xdg-user-dirs' defaults there: the user's own list may name
    folders of the real home, which the known-folder functions would create."""
    real_config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    home = tempfile.mkdtemp(prefix="device-demo-home-")
    for variable, folder in XDG_FOLDERS:
        os.environ[variable] = os.path.join(home, folder)
        os.makedirs(os.environ[variable])
    os.environ["XDG_RUNTIME_DIR"] = os.path.join(home, "run")
    os.mkdir(os.environ["XDG_RUNTIME_DIR"], 0o700)
    os.environ["HOME"] = home
    os.environ.pop("W32_DRIVES", None)
    if os.path.isdir(os.path.join(real_config, "w32", "drives")):
        shutil.copytree(os.path.join(real_config, "w32", "drives"),
                        os.path.join(os.environ["XDG_CONFIG_HOME"], "w32", "drives"), symlinks=True)
    return home


def main():
    if sys.argv[1:] == ["--private-mount-events"]:
        private_mount_events()
        return 0
    home = scratch_home()
    print("The demo writes to a scratch home, removed at the end: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,")
    print("XDG_CACHE_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR are in %s" % home)
    try:
        tour()
    finally:
        shutil.rmtree(home)
    return 0


def tour():
    print("_Device: %d functions" % len([n for n in dir(_Device) if not n.startswith("__")]))
    detection()
    device_events()
    machine_facts()
    special_folders()
    languages()
    single_instance()
    protect_strings()
    suspend_blocker()
    screen_saver_timer()
    shell_services()
    folder_monitoring(sys.argv[1] if len(sys.argv) > 1 else None)
    output = _w32.TakeDebugOutput()
    if output:
        print("Debugger output:")
        sys.stdout.flush()  # the lines below go to the bytes underneath
        write = getattr(getattr(sys.stdout, "buffer", sys.stdout), "write")
        for line in output:
            write(("  " + line).encode("utf-8"))


if __name__ == "__main__":
    sys.exit(main())
