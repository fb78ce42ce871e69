"""Hand-off latency: a native worker's PostMessageW to the Python callable
running inside _w32.PumpMessages, beside the same hand-off through a
queue between two Python threads. The two alternate in rounds, so that
the machine's load weighs on both alike. Prints median and 99th percentile."""
from __future__ import print_function

import threading
import time

import _bridge_bench as bench
import _w32

try:
    from queue import Queue
except ImportError:  # Python 2
    from Queue import Queue

ROUNDS = 6
COUNT = 600  # hand-offs per round
INTERVAL_US = 300
WARM_UP = 20  # of each round


def summary(samples_ns):
    kept = sorted(samples_ns)
    median = kept[len(kept) // 2]
    p99 = kept[min(len(kept) - 1, int(len(kept) * 0.99))]
    return median / 1000.0, p99 / 1000.0


def through_pump():
    samples = []
    bench.Open(lambda stamp: samples.append(bench.Now() - stamp))
    bench.StartPoster(COUNT, INTERVAL_US)
    while len(samples) < COUNT:
        _w32.PumpMessages(1000)
    bench.Close()
    return samples[WARM_UP:]


def through_queue():
    queue = Queue()
    samples = []

    def consumer():
        for _ in range(COUNT):
            stamp = queue.get()
            samples.append(bench.Now() - stamp)

    worker = threading.Thread(target=consumer)
    worker.start()
    for _ in range(COUNT):
        queue.put(bench.Now())
        time.sleep(INTERVAL_US / 1e6)
    worker.join()
    return samples[WARM_UP:]


def main():
    pump, queue = [], []
    for _ in range(ROUNDS):
        pump.extend(through_pump())
        queue.extend(through_queue())
    rows = [
        ("PostMessageW (native worker) -> callable in _w32.PumpMessages", summary(pump)),
        ("Queue put -> get (two Python threads), reference", summary(queue)),
    ]
    print("Callback hand-off latency, %d hand-offs each, one every %d us (microseconds)" % (
        len(pump), INTERVAL_US))
    print("%-64s %9s %9s" % ("", "median", "p99"))
    for name, (median, p99) in rows:
        print("%-64s %9.1f %9.1f" % (name, median, p99))


if __name__ == "__main__":
    main()
