"""AutoPlay cancellation: registration in the Running Object Table."""
import unittest

from device_support import run_python

REGISTER_TWICE_AND_REVOKE = """
    import _Device, _w32
    print(_Device.UnregisterCancelAutoplay())
    print(_Device.RegisterCancelAutoplay())
    _w32.CoInitialize()
    print([_Device.RegisterCancelAutoplay(), _Device.RegisterCancelAutoplay(),
           _Device.UnregisterCancelAutoplay(), _Device.UnregisterCancelAutoplay()])
    """


class CancelAutoplay(unittest.TestCase):
    def test_the_platforms_that_qualify(self):
        # Without COM the table is out of reach; revoking still answers True.
        cases = [(None, "True\nFalse\n[True, True, True, True]\n"),
                 ("5.1.2600", "True\nFalse\n[True, True, True, True]\n"),
                 ("5.0.2196", "True\nFalse\n[True, True, True, True]\n"),
                 ("5.0.2195", "False\nFalse\n[False, False, False, False]\n"),
                 ("4.0.1381", "False\nFalse\n[False, False, False, False]\n")]
        for version, answers in cases:
            status, out, err = run_python(REGISTER_TWICE_AND_REVOKE, env={"W32_OSVERSION": version} if version else {})
            self.assertEqual(status, 0, err)
            self.assertEqual(out, answers, version)


if __name__ == "__main__":
    unittest.main()
