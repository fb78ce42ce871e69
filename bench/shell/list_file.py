"""ListFile beside the same selection made in Python: os.listdir, then os.stat
of each name to leave out folders, and the dot rule for hidden names."""
import os
import shutil
import stat
import sys
import tempfile
import time

import _Device

ENTRIES = 100000
ROUNDS = 5


def make_folder():
    folder = tempfile.mkdtemp(prefix=u"list-bench-")  # unicode on Python 2 as well
    for i in range(ENTRIES):
        kind = i % 10
        name = os.path.join(folder, (".hidden%06d" if kind == 0 else "entry%06d") % i)
        if kind == 1:
            os.mkdir(name)
        else:
            open(name, "w").close()
    return folder


def python_listing(folder):
    names = []
    for name in os.listdir(folder):
        if name.startswith(u".") or stat.S_ISDIR(os.stat(os.path.join(folder, name)).st_mode):
            continue
        names.append(name)
    return names


def best_of(function, argument):
    best = None
    for _ in range(ROUNDS):
        start = time.time()
        result = function(argument)
        elapsed = time.time() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def main():
    folder = make_folder()
    try:
        ours, listed = best_of(_Device.ListFile, folder + u"/*")
        reference, expected = best_of(python_listing, folder)
    finally:
        shutil.rmtree(folder)
    same = sorted(listed) == sorted(expected)
    print("ListFile, %d entries: %.1f ms; os.listdir + os.stat in Python: %.1f ms; %.2fx faster; same names: %s"
          % (ENTRIES, ours * 1000, reference * 1000, reference / ours, same))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
