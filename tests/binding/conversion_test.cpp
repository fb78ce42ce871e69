// Argument conversion over every kind and boundary, against an embedded interpreter.
#include "python/python_compat.h"
#include <gtest/gtest.h>

#include <string>

#include "binding/entry.h"

namespace device::binding {
namespace {

class Interpreter : public ::testing::Environment {
 public:
  void SetUp() override { Py_Initialize(); }
};
const auto* const interpreter = ::testing::AddGlobalTestEnvironment(new Interpreter);

// A new reference to the value of a Python expression.
PyObject* Eval(const char* expression) {
  PyObject* globals = PyDict_New();
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  // One spelling for both interpreters: long(...) is an int on Python 3, and b'' a byte string on both.
  PyRun_String(
      "try:\n    long, unicode\nexcept NameError:\n    long, unicode = int, str\n"
      "class U(unicode): pass\nclass I(int): pass\nclass L(long): pass\n",
      Py_file_input, globals, globals);
  PyObject* value = PyRun_String(expression, Py_eval_input, globals, globals);
  Py_DECREF(globals);
  EXPECT_NE(value, nullptr) << expression;
  return value;
}

// A negative long inside the C long range: Python 2 reads it by the long rule
// (a mismatch); Python 3 has one int type, and reads every value inside the C
// long range by the int rule (out of range for the unsigned kinds).
constexpr Load kNegativeLong = DEVICE_PYTHON3 ? Load::kOverflow : Load::kMismatch;

struct NumberCase {
  const char* expression;
  Load outcome;
  long long value;
};

template <class Kind>
void CheckNumbers(const std::vector<NumberCase>& cases) {
  for (const NumberCase& c : cases) {
    PyObject* object = Eval(c.expression);
    typename Kind::Storage value{};
    EXPECT_EQ(Kind::From(object, value), c.outcome) << Kind::kType << " from " << c.expression;
    if (c.outcome == Load::kOk) {
      EXPECT_EQ(static_cast<long long>(value), c.value) << c.expression;
    }
    EXPECT_FALSE(PyErr_Occurred()) << "a conversion leaves no error behind: " << c.expression;
    Py_DECREF(object);
  }
}

TEST(Conversion, UnsignedThirtyTwoBitKinds) {
  const std::vector<NumberCase> cases = {
      {"0", Load::kOk, 0},
      {"long(4294967295)", Load::kOk, 4294967295LL},
      {"long(2147483648)", Load::kOk, 2147483648LL},
      {"True", Load::kOk, 1},
      {"I(7)", Load::kOk, 7},
      {"L(7)", Load::kOk, 7},
      {"-1", Load::kOverflow, 0},        // a negative int is out of range
      {"long(-1)", kNegativeLong, 0},  // a negative long fails in the host's reading
      {"-long(2**64)", Load::kMismatch, 0},
      {"long(4294967296)", Load::kMismatch, 0},
      {"4294967296", Load::kMismatch, 0},  // an int past 32 bits is a long on a 32-bit host
      {"2.0", Load::kMismatch, 0},
      {"'1'", Load::kMismatch, 0},
      {"None", Load::kMismatch, 0},
  };
  CheckNumbers<ArgUint>(cases);
  CheckNumbers<ArgDword>(cases);
}

TEST(Conversion, Byte) {
  CheckNumbers<ArgByte>({
      {"255", Load::kOk, 255},
      {"True", Load::kOk, 1},
      {"long(0)", Load::kOk, 0},
      {"256", Load::kOverflow, 0},
      {"long(4294967295)", Load::kOverflow, 0},
      {"-1", Load::kOverflow, 0},
      {"long(-1)", kNegativeLong, 0},
      {"long(4294967296)", Load::kMismatch, 0},
      {"2.0", Load::kMismatch, 0},
      {"u'a'", Load::kMismatch, 0},
  });
}

TEST(Conversion, SignedThirtyTwoBitKinds) {
  const std::vector<NumberCase> cases = {
      {"-1", Load::kOk, -1},
      {"-2147483648", Load::kOk, -2147483648LL},
      {"long(2147483647)", Load::kOk, 2147483647LL},
      {"I(-5)", Load::kOk, -5},
      {"False", Load::kOk, 0},
      {"2147483648", Load::kMismatch, 0},
      {"long(2147483648)", Load::kMismatch, 0},
      {"long(-2147483649)", Load::kMismatch, 0},
      {"1.5", Load::kMismatch, 0},
      {"[]", Load::kMismatch, 0},
  };
  CheckNumbers<ArgINT>(cases);
  CheckNumbers<ArgInt>(cases);
}

TEST(Conversion, PointerSizedKinds) {
  CheckNumbers<ArgWparam>({
      {"0", Load::kOk, 0},
      {"long(18446744073709551615)", Load::kOk, -1},  // all 64 bits set
      {"4294967296", Load::kOk, 4294967296LL},
      {"-1", Load::kOverflow, 0},
      {"long(-1)", kNegativeLong, 0},
      {"long(18446744073709551616)", Load::kMismatch, 0},
      {"'x'", Load::kMismatch, 0},
  });
  CheckNumbers<ArgLparam>({
      {"-9223372036854775808", Load::kOk, INT64_MIN},
      {"long(9223372036854775807)", Load::kOk, INT64_MAX},
      {"long(9223372036854775808)", Load::kMismatch, 0},
      {"None", Load::kMismatch, 0},
  });
}

TEST(Conversion, Bool) {
  CheckNumbers<ArgBool>({
      {"True", Load::kOk, 1},
      {"False", Load::kOk, 0},
      {"2", Load::kOk, 1},
      {"long(0)", Load::kOk, 0},
      {"-7", Load::kOk, 1},
      {"None", Load::kMismatch, 0},
      {"long(2147483648)", Load::kMismatch, 0},
      {"1.0", Load::kMismatch, 0},
  });
}

// What the round trip below cannot give: a subclass, and what is no unicode.
TEST(Conversion, OnlyUnicodeBecomesUtf16) {
  struct Case {
    const char* expression;
    Load outcome;
  };
  const Case cases[] = {{"U(u'sub')", Load::kOk}, {"b'abc'", Load::kMismatch}, {"3", Load::kMismatch}};
  for (const Case& c : cases) {
    PyObject* object = Eval(c.expression);
    std::u16string value;
    EXPECT_EQ(ArgUnicode::From(object, value), c.outcome) << c.expression;
    if (c.outcome == Load::kOk) {
      EXPECT_EQ(value, u"sub");
    }
    Py_DECREF(object);
  }
}

TEST(Conversion, Utf16ResultsJoinPairsKeepLoneSurrogatesAndComeBackCutAtTheFirstZero) {
  struct Case {
    std::u16string text;
    const char* expression;
  };
  const Case cases[] = {
      {u"abc", "u'abc'"},
      {u"", "u''"},
      {u"\u00e9\U0001F600", "u'\\u00e9\\U0001F600'"},  // a surrogate pair above U+FFFF
      {std::u16string(u"ab\0cd", 5), "u'ab\\x00cd'"},
      {std::u16string{u'a', char16_t(0xD800), u'b'}, "u'a\\ud800b'"},
      {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "u'\\udc00\\ud800'"},  // the wrong order is no pair
      {std::u16string{char16_t(0xD800)}, "u'\\ud800'"},
  };
  for (const Case& c : cases) {
    PyObject* made = pycompat::UnicodeFromUtf16(c.text.data(), c.text.size());
    PyObject* expected = Eval(c.expression);
    ASSERT_NE(made, nullptr) << c.expression;
    EXPECT_EQ(PyObject_RichCompareBool(made, expected, Py_EQ), 1) << c.expression;
    std::u16string back;
    EXPECT_EQ(ArgUnicode::From(made, back), Load::kOk);
    EXPECT_EQ(back, c.text.substr(0, c.text.find(u'\0'))) << c.expression;
    EXPECT_EQ(std::char_traits<char16_t>::length(ArgUnicode::Get(back)), back.size()) << c.expression;
    Py_DECREF(expected);
    Py_DECREF(made);
  }
}

// An entry point made from the same template as the module's, over a probe service.
struct Probe {
  static inline int calls = 0;
  static inline DWORD last = 0;
  static DWORD Echo(BYTE drive, bool flag, const WCHAR* text) {
    ++calls;
    last = drive + (flag ? 1000u : 0u) + static_cast<DWORD>(std::char_traits<char16_t>::length(text)) * 10000u;
    return last;
  }
};
constexpr char kProbeName[] = "Probe_Echo";
using ProbeEntry = Entry<kProbeName, &Probe::Echo, ArgByte, ArgBool, ArgUnicode>;

// Whether the probe refused the arguments with an exception, which is cleared.
bool ProbeRefuses(const char* arguments) {
  PyObject* args = Eval(arguments);
  PyObject* result = ProbeEntry::Call(nullptr, args);
  Py_DECREF(args);
  Py_XDECREF(result);
  const bool refused = result == nullptr && PyErr_Occurred() != nullptr;
  PyErr_Clear();
  return refused;
}

// The messages themselves are checked through the module; here, that no
// service runs after a refused argument and that a good call reaches it.
TEST(EntryPoint, OnlyConvertedArgumentsReachTheService) {
  for (const char* refused : {"(256, True, u'x')", "(1, None, u'x')", "(1, 1, b'x')", "(1, 2)"}) {
    const int calls = Probe::calls;
    EXPECT_TRUE(ProbeRefuses(refused)) << refused;
    EXPECT_EQ(Probe::calls, calls) << refused;
  }
  EXPECT_FALSE(ProbeRefuses("(7, 2, u'ab\\x00c')"));
  EXPECT_EQ(Probe::last, 7u + 1000u + 20000u);
}

}  // namespace
}  // namespace device::binding
