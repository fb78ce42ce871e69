"""MMer and MMer2 end to end, through _Device as the application calls them."""
import binascii
import os
import random
import shutil
import tempfile
import unittest

import _Device
from device_proxies import MMer, MMer2
from device_support import ASCII_TEXT_IS_BYTES, byte_string


def unhex(text):
    return binascii.unhexlify(text.replace(" ", ""))


def random_bytes(generator, size):
    return byte_string(generator.randrange(256) for _ in range(size))


def flipped(data, index):
    """data with the lowest bit of one byte changed."""
    changed = bytearray(data)
    changed[index] ^= 1
    return bytes(changed)


KEY = unhex("2b7e151628aed2a6abf7158809cf4f3c")
VECTOR = unhex("000102030405060708090a0b0c0d0e0f")


class WindowsErrorChecks(object):
    def assertBadArguments(self, call, *args):
        try:
            call(*args)
        except WindowsError as error:
            self.assertEqual(error.winerror, 160)
            self.assertEqual(error.errno, 22)
            self.assertEqual(error.strerror, "One or more arguments are not correct")
        else:
            self.fail("no WindowsError for %r" % (args,))


class MMerTest(unittest.TestCase, WindowsErrorChecks):
    def setUp(self):
        self.mmer = MMer()
        self.assertEqual(self.mmer.SetParam((KEY, VECTOR)), 1)

    def test_nist_cbc_aes128_vectors(self):
        # NIST SP 800-38A, F.2.1 and F.2.2.
        plain = unhex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
                      "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710")
        cipher = unhex("7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
                       "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7")
        self.assertEqual(self.mmer.Encode(plain), cipher)
        self.assertEqual(self.mmer.Decode(cipher), plain)

    def test_decode_inverts_encode_for_every_length(self):
        generator = random.Random(3)
        for length in list(range(0, 16 * 40, 16)) + [1 << 20]:
            data = random_bytes(generator, length) if length < 4096 else os.urandom(length)
            encoded = self.mmer.Encode(data)
            self.assertEqual(len(encoded), length)
            self.assertEqual(self.mmer.Decode(encoded), data)

    def test_calls_are_independent(self):
        a, b = b"a" * 16, b"b" * 16
        self.assertEqual(self.mmer.Encode(a + b), self.mmer.Encode(a + b))
        self.assertEqual(self.mmer.Encode(a + b)[:16], self.mmer.Encode(a))
        self.assertNotEqual(self.mmer.Encode(a + b)[16:], self.mmer.Encode(b))

    def test_refused_parameters_change_nothing(self):
        before = self.mmer.Encode(b"x" * 32)
        k, v = b"k" * 16, b"v" * 16
        for parameters in [(b"k" * 15, v), (b"k" * 17, v), (k, b"v" * 15), (k, b"v" * 17), [k, v],
                           (k, v, v), (k,), (), (u"k" * 16, v), (k, u"v" * 16), (k, 16),
                           (bytearray(k), v), None, k + v, 5]:
            self.assertBadArguments(self.mmer.SetParam, parameters)
            self.assertEqual(self.mmer.Encode(b"x" * 32), before, parameters)

    def test_subtypes_of_tuple_and_str_are_parameters(self):
        class Pair(tuple):
            pass

        class Bytes(bytes):
            pass

        self.assertEqual(self.mmer.SetParam(Pair((Bytes(KEY), Bytes(VECTOR)))), 1)

    def test_bad_data_raises(self):
        not_strings = [5, 5.0, None, [b"x" * 16], object(), u"\xe9" * 16, bytearray(b"x" * 16)]
        for data in not_strings + [b"x" * 17, b"x", b"x" * 31]:
            self.assertBadArguments(self.mmer.Encode, data)
            self.assertBadArguments(self.mmer.Decode, data)
        for data in not_strings:
            self.assertBadArguments(MMer2().Encode, data)
            self.assertBadArguments(MMer2().Decode, data)

    def test_ascii_text_is_bytes_only_where_the_interpreter_makes_it_so(self):
        for call in (self.mmer.Encode, self.mmer.Decode, MMer2().Encode, MMer2().Decode):
            if ASCII_TEXT_IS_BYTES:
                call(u"a" * 16)
            else:
                self.assertBadArguments(call, u"a" * 16)
        if ASCII_TEXT_IS_BYTES:
            self.assertEqual(self.mmer.Encode(u"a" * 16), self.mmer.Encode(b"a" * 16))

    def test_before_any_parameters_it_still_runs(self):
        fresh = MMer()
        encoded = fresh.Encode(b"z" * 48)
        self.assertEqual(len(encoded), 48)
        self.assertEqual(fresh.Decode(encoded), b"z" * 48)

class FakeMachine(object):
    """A folder with etc/machine-id, for W32_SYSROOT."""

    def __init__(self, machine_id):
        self.root = tempfile.mkdtemp(prefix="w32-machine-")
        os.chmod(self.root, 0o755)
        os.mkdir(os.path.join(self.root, "etc"))
        if machine_id is not None:
            with open(os.path.join(self.root, "etc", "machine-id"), "w") as f:
                f.write(machine_id)

    def enter(self):
        os.environ["W32_SYSROOT"] = self.root

    def remove(self):
        shutil.rmtree(self.root)


class MMer2Test(unittest.TestCase, WindowsErrorChecks):
    def setUp(self):
        self.saved_root = os.environ.get("W32_SYSROOT")
        self.here = FakeMachine("5b3e1f6a9c2d4e8f8a7b6c5d4e3f2a1b\n")
        self.elsewhere = FakeMachine("00000000000000000000000000000001\n")
        self.here.enter()
        self.mmer2 = MMer2()

    def tearDown(self):
        if self.saved_root is None:
            del os.environ["W32_SYSROOT"]
        else:
            os.environ["W32_SYSROOT"] = self.saved_root
        self.here.remove()
        self.elsewhere.remove()

    def test_decode_inverts_encode(self):
        for data in [b"", b"a", b"\x00" * 100, os.urandom(100000)]:
            blob = self.mmer2.Encode(data)
            self.assertIsInstance(blob, bytes)
            self.assertEqual(self.mmer2.Decode(blob), data)

    def test_two_encodings_differ_and_both_decode(self):
        first, second = self.mmer2.Encode(b"same"), self.mmer2.Encode(b"same")
        self.assertNotEqual(first, second)
        self.assertEqual(self.mmer2.Decode(first), b"same")
        self.assertEqual(self.mmer2.Decode(second), b"same")

    def test_description_travels_in_every_blob(self):
        self.assertIn(u"OrvellineCalvetto".encode("utf-16-le"), self.mmer2.Encode(b"data"))

    def test_any_other_bytes_decode_to_none(self):
        blob = self.mmer2.Encode(b"sixteen bytes...")
        damaged = [b"", b"x", b"\x01\x00\x00\x00" * 20, os.urandom(len(blob)), blob + b"x", b"\x00" * (8 << 20)]
        damaged += [blob[:n] for n in range(len(blob))]
        damaged += [flipped(blob, i) for i in range(len(blob))]
        for data in damaged:
            self.assertIsNone(self.mmer2.Decode(data), repr(data[:80]))

    def test_another_machine_gives_none(self):
        blob = self.mmer2.Encode(b"data")
        self.elsewhere.enter()
        self.assertIsNone(self.mmer2.Decode(blob))
        self.assertEqual(self.mmer2.Decode(self.mmer2.Encode(b"there")), b"there")
        self.here.enter()
        self.assertEqual(self.mmer2.Decode(blob), b"data")
        same = FakeMachine("  5b3e1f6a9c2d4e8f8a7b6c5d4e3f2a1b")  # the identity without its white space
        try:
            same.enter()
            self.assertEqual(self.mmer2.Decode(blob), b"data")
        finally:
            same.remove()

    def test_without_machine_identity_everything_is_none(self):
        blob = self.mmer2.Encode(b"data")
        for identity in (None, " \n"):
            bare = FakeMachine(identity)
            try:
                bare.enter()
                self.assertIsNone(self.mmer2.Encode(b"data"), identity)
                self.assertIsNone(self.mmer2.Decode(blob), identity)
            finally:
                bare.remove()

    @unittest.skipUnless(os.geteuid() == 0, "needs root to run as another user")
    def test_another_user_of_the_machine_decodes(self):
        blob = self.mmer2.Encode(b"shared")
        child = os.fork()
        if child == 0:
            try:
                os.setgid(65534)
                os.setuid(65534)
                os._exit(0 if self.mmer2.Decode(blob) == b"shared" else 1)
            except BaseException:
                os._exit(2)
        self.assertEqual(os.waitpid(child, 0)[1], 0)


if __name__ == "__main__":
    unittest.main()
