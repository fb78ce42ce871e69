"""The reference (docs/reference.md) against the module: every function of the
function table is there once, with the table's argument kinds, and no other."""
import os
import re
import unittest

import _Device

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
# The table's argument kinds as the reference writes them; ArgObject<X> and
# ArgDisowned<X> are the class X.
KINDS = {"ArgAny": "any", "ArgUnicode": "unicode", "ArgByte": "BYTE", "ArgBool": "bool", "ArgDword": "DWORD",
         "ArgInt": "int", "ArgINT": "INT", "ArgUint": "UINT", "ArgWparam": "WPARAM", "ArgLparam": "LPARAM",
         "ArgVoidPointer": "void *"}


def split_top_level(text):
    """Splits at the commas outside brackets."""
    parts, depth, current = [], 0, ""
    for c in text:
        if c == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        depth += c in "(<"
        depth -= c in ")>"
        current += c
    return parts + [current.strip()]


def table_kinds():
    """Name -> argument kinds, from the rows of the function table's source."""
    with open(os.path.join(ROOT, "src", "binding", "function_table.cpp")) as source:
        text = source.read()
    table = text[text.index("#define DEVICE_FUNCTION_TABLE"):text.index("// The Python names")]
    kinds = {}
    for row, body in re.findall(r"\b([FR])\(((?:[^()]|\([^()]*\))*)\)", table.replace("\\\n", " ")):
        name, arguments = split_top_level(body)[0], split_top_level(body)[2:]
        if row == "R":
            kinds[name] = ["any"]  # X_swigregister(cls)
            continue
        object_class = [re.match(r"Arg(?:Object|Disowned)<(\w+)>", a) for a in arguments]
        kinds[name] = [m.group(1) if m else KINDS[a] for m, a in zip(object_class, arguments)]
    return kinds


def reference_kinds():
    """(name, argument kinds) of every "### `Name(argument: KIND, ...) -> answer`" heading, in order."""
    entries = []
    with open(os.path.join(ROOT, "docs", "reference.md")) as reference:
        for line in reference:
            heading = re.match(r"### `(\w+)\((.*)\) -> .+`$", line.rstrip("\n"))
            if heading:
                arguments = [a.split(": ", 1)[1] for a in heading.group(2).split(", ") if a]
                entries.append((heading.group(1), arguments))
    return entries


class Reference(unittest.TestCase):
    def test_every_function_once_with_the_tables_kinds(self):
        table = table_kinds()
        module = sorted(name for name in dir(_Device) if not name.startswith("__"))
        self.assertEqual(sorted(table), module)
        entries = reference_kinds()
        names = [name for name, _ in entries]
        self.assertEqual({"missing": sorted(set(module) - set(names)), "unknown": sorted(set(names) - set(module)),
                          "repeated": sorted(set(name for name in names if names.count(name) > 1))},
                         {"missing": [], "unknown": [], "repeated": []})
        self.assertEqual([(name, kinds) for name, kinds in entries if table[name] != kinds], [])


if __name__ == "__main__":
    unittest.main()
