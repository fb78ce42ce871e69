"""Import time of _Device beside a trivial extension module, each in fresh processes."""
import os
import subprocess
import sys

RUNS = int(os.environ.get("IMPORT_RUNS", "300"))
PROBE = ("import time\n"
         "t = time.time()\n"
         "import %s\n"
         "print '%%.1f' %% ((time.time() - t) * 1e6)\n")


def import_micros(module):
    out = subprocess.check_output([sys.executable, "-S", "-c", PROBE % module])
    return float(out)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def main():
    samples = {"_Device": [], "_trivial": []}
    for _ in range(RUNS):  # interleaved, so both see the same machine
        for module in samples:
            samples[module].append(import_micros(module))
    print "import time, median of %d fresh processes (p90 in brackets):" % RUNS
    for module in ("_Device", "_trivial"):
        values = sorted(samples[module])
        print "  %-9s %8.1f us  [%.1f us]" % (module, median(values), values[int(len(values) * 0.9)])
    print "  ratio     %8.2f" % (median(samples["_Device"]) / median(samples["_trivial"]))


if __name__ == "__main__":
    main()
