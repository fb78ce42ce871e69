"""_w32.QueueFd() under asyncio (Python 3): the descriptor is readable while this
thread's message queue holds messages, so asyncio's loop dispatches them
through add_reader, and a folder monitor's notices arrive without polling."""
import asyncio
import os
import tempfile

import _Device
import _w32


async def watch(folder: str) -> None:
    loop = asyncio.get_running_loop()
    notices: "asyncio.Queue[tuple[str, ...]]" = asyncio.Queue()
    monitor = _Device.new_MonitorFolder(lambda *notice: notices.put_nowait(notice))
    # Level-triggered: the reader runs while messages wait, and PumpMessages(0)
    # dispatches them all (the callable runs inside it, on this thread).
    queue = _w32.QueueFd()
    loop.add_reader(queue, _w32.PumpMessages, 0)
    try:
        _Device.MonitorFolder_Start(monitor)
        _Device.MonitorFolder_AddFolder(monitor, folder)
        await asyncio.sleep(0.3)  # the worker arms its first read a moment after AddFolder
        with open(os.path.join(folder, "a.txt"), "w"):
            pass
        os.rename(os.path.join(folder, "a.txt"), os.path.join(folder, "b.txt"))
        kind = ""
        while kind != "Rename":
            notice = await asyncio.wait_for(notices.get(), 10)
            print("notice:", notice)
            kind = notice[1]
    finally:
        loop.remove_reader(queue)
        _Device.MonitorFolder_Close(monitor)
        _Device.delete_MonitorFolder(monitor)


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(prefix="asyncio-loop-") as scratch:
        asyncio.run(watch(scratch))
