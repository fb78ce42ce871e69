"""Hand-off latency: a native worker's PostMessageW to the Python callable
running inside _w32.PumpMessages, beside the same hand-off through a
Queue.Queue between two Python threads. Prints median and 99th percentile."""
import Queue
import threading
import time

import _bridge_bench as bench
import _w32

COUNT = 3000
INTERVAL_US = 300
WARM_UP = 100


def summary(samples_ns):
    kept = sorted(samples_ns[WARM_UP:])
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
    return samples


def through_queue():
    queue = Queue.Queue()
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
    return samples


def main():
    rows = [
        ("PostMessageW (native worker) -> callable in _w32.PumpMessages", summary(through_pump())),
        ("Queue.Queue put -> get (two Python threads), reference", summary(through_queue())),
    ]
    print "Callback hand-off latency, %d hand-offs each, one every %d us (microseconds)" % (
        COUNT - WARM_UP, INTERVAL_US)
    print "%-64s %9s %9s" % ("", "median", "p99")
    for name, (median, p99) in rows:
        print "%-64s %9.1f %9.1f" % (name, median, p99)


if __name__ == "__main__":
    main()
