"""ListFile and ListFolder on a folder of 100,000 entries beside the same
selection made in Python with the same information: Python 3 os.scandir and
entry.stat(), Python 2 os.listdir and os.stat, each in a process of its own.
Warm (the folder in the page cache) and cold (caches dropped just before the
timed listing; needs root). Medians of interleaved rounds.

    list_file.py                 the benchmark (Python 2: PYTHON2, default this
                                 interpreter; Python 3: PYTHON3, /usr/bin/python3)
    list_file.py KIND FOLDER COLD  one reference listing (KIND file or folder):
                                 prints its seconds, then the names"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

ENTRIES = 100000
ROUNDS = 5
DROP_CACHES = "/proc/sys/vm/drop_caches"


def make_folder():
    folder = tempfile.mkdtemp(prefix=u"list-bench-")  # unicode on Python 2 as well
    for i in range(ENTRIES):
        kind = i % 10
        name = os.path.join(folder, (".hidden%06d" if kind == 0 else "entry%06d") % i)
        if kind == 1:
            os.mkdir(name)
        else:
            open(name, "w").close()
    subprocess.check_call(["sync"])
    return folder


def can_drop_caches():
    return os.access(DROP_CACHES, os.W_OK)


def drop_caches():
    with open(DROP_CACHES, "w") as control:
        control.write("3\n")


def listed(kind, mode):
    """Whether an entry of `mode` belongs to a listing of `kind`."""
    return stat.S_ISDIR(mode) == (kind == "folder")


def reference_listing(kind, folder):
    """The selection by the names and stats Python gives: the dot entries (as
    ListFolder lists them), then the folder's entries, hidden ones left out."""
    names = [name for name in (u".", u"..") if listed(kind, os.stat(os.path.join(folder, name)).st_mode)]
    if hasattr(os, "scandir"):
        names += [entry.name for entry in os.scandir(folder)
                  if not entry.name.startswith(u".") and listed(kind, entry.stat().st_mode)]
    else:
        names += [name for name in os.listdir(folder)
                  if not name.startswith(u".") and listed(kind, os.stat(os.path.join(folder, name)).st_mode)]
    return names


def timed(function, argument, cold):
    if cold:
        drop_caches()
    start = time.time()
    result = function(argument)
    return time.time() - start, result


def reference(python, kind, folder, cold):
    output = subprocess.check_output([python, os.path.abspath(__file__), kind, folder, str(int(cold))])
    lines = output.decode("utf-8").split("\n")
    return float(lines[0]), [line for line in lines[1:] if line]


def median(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 2]


def main():
    import _Device

    python2 = os.environ.get("PYTHON2", sys.executable if sys.version_info[0] == 2 else "")
    python3 = os.environ.get("PYTHON3", "/usr/bin/python3")
    references = [(label, python) for label, python in
                  (("Python 3 scandir + stat", python3), ("Python 2 listdir + stat", python2)) if python]
    states = ["warm"] + (["cold"] if can_drop_caches() else [])
    listings = (("ListFile", "file", _Device.ListFile), ("ListFolder", "folder", _Device.ListFolder))
    times = {}
    same = True
    folder = make_folder()
    try:
        for _ in range(ROUNDS):
            for state in states:
                cold = state == "cold"
                for name, kind, function in listings:
                    elapsed, ours = timed(function, folder + u"/*", cold)
                    times.setdefault((name, state, "ours"), []).append(elapsed)
                    for label, python in references:
                        elapsed, theirs = reference(python, kind, folder, cold)
                        times.setdefault((name, state, label), []).append(elapsed)
                        same = same and sorted(ours) == sorted(theirs)
    finally:
        shutil.rmtree(folder)
    print("Listing a folder of %d entries, ms (median of %d interleaved rounds):" % (ENTRIES, ROUNDS))
    for name, _, _ in listings:
        for state in states:
            ours = median(times[(name, state, "ours")])
            line = "  %-10s %s: ours %6.0f" % (name, state, ours * 1000)
            for label, _ in references:
                theirs = median(times[(name, state, label)])
                line += "; %s %6.0f (%.2fx)" % (label, theirs * 1000, theirs / ours)
            print(line)
    if "cold" not in states:
        print("  cold: not measured (dropping the page cache needs root)")
    print("  same names: %s" % same)
    return 0 if same else 1


def reference_main(kind, folder, cold):
    elapsed, names = timed(lambda path: reference_listing(kind, path), folder, cold == "1")
    out = getattr(sys.stdout, "buffer", sys.stdout)
    out.write(("%.6f\n" % elapsed).encode("ascii"))
    out.write(u"\n".join(names).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(reference_main(*sys.argv[1:]) if len(sys.argv) == 4 else main())
