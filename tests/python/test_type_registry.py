"""The interpreter-wide type registry, shared with a second module of the same runtime."""
import unittest

from device_support import run_python


class SharedRegistry(unittest.TestCase):
    def check_sharing(self, first, second):
        status, out, err = run_python("""
            import %s, %s
            import sys, _Device, _registry_peer as peer
            from device_support import REGISTRY_POINTER_TYPE, reload
            assert type(sys.modules["swig_runtime_data3"].type_pointer).__name__ == REGISTRY_POINTER_TYPE
            assert peer.ring_size() == 2
            # One record for each shared name, whichever module came first.
            instance = _Device.new_RunningInstance(u"shared-record")
            foreign = peer.wrap("_p_RunningInstance", int(instance))
            assert type(foreign) is not type(instance) and type(foreign).__name__ == "PySwigObject"
            assert _Device.RunningInstance_IsAnotherInstanceRunning(foreign) is False
            assert peer.address("_p_RunningInstance", instance) == int(instance)
            # A void * made by one module is accepted by the other.
            void = peer.wrap("_p_void", 0x1234)
            assert repr(void) == "<Swig Object of type 'void *' at 0x1234>"
            assert peer.address("_p_void", void) == 0x1234
            assert peer.address("_p_PeerThing", void) is None
            # A proxy class registered through one module serves both.
            class Proxy(object):
                __swig_destroy__ = _Device.delete_RunningInstance
            assert not peer.has_class("_p_RunningInstance")
            _Device.RunningInstance_swigregister(Proxy)
            assert peer.has_class("_p_RunningInstance")
            assert not peer.has_class("_p_void")
            del instance
            reload(_Device)
            assert peer.ring_size() == 2
            print("shared")
        """ % (first, second))
        self.assertEqual((status, out), (0, "shared\n"), err)

    def test_device_first(self):
        self.check_sharing("_Device", "_registry_peer")

    def test_peer_first(self):
        self.check_sharing("_registry_peer", "_Device")


if __name__ == "__main__":
    unittest.main()
