"""GetSystemCountryCode's search of 65,534 identifiers beside the same ICU
lookups in a plain C++ loop, getSystemLocales, and the import time of _Device
beside _ssl's (ICU is opened on first use, not at import)."""
import os
import subprocess
import sys
import time

RUNS = int(os.environ.get("SYSTEM_RUNS", "21"))
IMPORT_RUNS = int(os.environ.get("IMPORT_RUNS", "100"))
PLAIN_LOOP = sys.argv[1]

# Antarctica's code belongs to no locale: the search walks every identifier,
# then falls back to the user default's code.
WORST_CASE = dict(os.environ, LANG="en_US.UTF-8", LC_ADDRESS="en_AQ", LC_ALL="")

TIMING = """
import time, _Device
def median(f):
    values = []
    for _ in range(%d):
        t = time.time(); f(); values.append((time.time() - t) * 1e3)
    return sorted(values)[len(values) // 2]
t = time.time(); _Device.GetSystemCountryCode(); first = (time.time() - t) * 1e3
print first, median(_Device.GetSystemCountryCode), median(_Device.getSystemLocales)
""" % RUNS

IMPORT_PROBE = """
import time
t = time.time()
import %s
spent = (time.time() - t) * 1e6
print spent, int('libicuuc' in open('/proc/self/maps').read())
"""


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def main():
    out = subprocess.check_output([sys.executable, "-c", TIMING], env=WORST_CASE)
    first, country, locales = [float(x) for x in out.split()]
    plain = float(subprocess.check_output([PLAIN_LOOP]).split()[0])
    print "GetSystemCountryCode, no identifier matches (65,534 lookups), median of %d:" % RUNS
    print "  _Device                %8.2f ms  (first call, opening ICU: %.2f ms; goal < 50 ms)" % (country, first)
    print "  plain ICU loop (C++)   %8.2f ms" % plain
    print "getSystemLocales, median of %d:  %.2f ms" % (RUNS, locales)

    samples = {"_Device": [], "_ssl": []}
    icu_at_import = 0
    for _ in range(IMPORT_RUNS):  # interleaved, so both see the same machine
        for module in samples:
            spent, icu = subprocess.check_output([sys.executable, "-S", "-c", IMPORT_PROBE % module]).split()
            samples[module].append(float(spent))
            icu_at_import += int(icu)
    print "import time, median of %d fresh processes:" % IMPORT_RUNS
    for module in ("_Device", "_ssl"):
        print "  %-8s %8.1f us" % (module, median(samples[module]))
    print "  ICU mapped after import in %d of %d processes" % (icu_at_import, 2 * IMPORT_RUNS)


if __name__ == "__main__":
    main()
