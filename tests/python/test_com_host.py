"""_w32's COM for hosts: each thread initialises and uninitialises its own."""
import threading
import unittest

import _w32

S_OK, S_FALSE = 0, 1


class ComHost(unittest.TestCase):
    def test_counted_per_thread(self):
        answers = []

        def thread():
            answers.append((_w32.CoInitialize(), _w32.CoInitialize()))
            self.assertIsNone(_w32.CoUninitialize())
            _w32.CoUninitialize()
            _w32.CoUninitialize()  # one more than was initialised: ignored
            answers.append(_w32.CoInitialize())
            _w32.CoUninitialize()

        for _ in range(2):
            worker = threading.Thread(target=thread)
            worker.start()
            worker.join()
        self.assertEqual(answers, [(S_OK, S_FALSE), S_OK] * 2)


if __name__ == "__main__":
    unittest.main()
