"""The module under Python 2 and Python 3 in one run: import time (beside a
trivial extension module, import_time.py) and MMer_Encode throughput on
16 MiB, each interpreter with its own build folder.

    interpreters.py PYTHON=LIBDIR PYTHON=LIBDIR"""
import subprocess
import sys

import import_time

ROUNDS = 5
ENCODE_PROBE = """
import time, _Device
mmer = _Device.new_MMer()
_Device.MMer_SetParam(mmer, (b'k' * 16, b'v' * 16))
data = b'x' * (16 << 20)
best = None
for _ in range(20):
    t = time.time()
    _Device.MMer_Encode(mmer, data)
    elapsed = time.time() - t
    best = elapsed if best is None else min(best, elapsed)
_Device.delete_MMer(mmer)
print('%.1f' % (len(data) / best / 1e6))
"""


def main(arguments):
    hosts = import_time.interpreters(arguments)
    import_time.main(arguments)
    speeds = dict((label, []) for label, _, _ in hosts)
    for _ in range(ROUNDS):  # interleaved, as the import times are
        for label, python, env in hosts:
            speeds[label].append(float(subprocess.check_output([python, "-c", ENCODE_PROBE], env=env)))
    print("MMer_Encode on 16 MiB, MB/s (10^6 bytes per second), median of %d processes of best-of-20:" % ROUNDS)
    for label, _, _ in hosts:
        print("  %-11s %8.0f" % (label, import_time.median(speeds[label])))


if __name__ == "__main__":
    main(sys.argv[1:])
