"""Import time of _Device beside a trivial extension module, each in fresh processes.

With arguments PYTHON=LIBDIR ..., each interpreter imports the modules of its
own build folder, interleaved with the others; without, this interpreter does,
from its PYTHONPATH."""
import os
import subprocess
import sys

RUNS = int(os.environ.get("IMPORT_RUNS", "300"))
PROBE = ("import time\n"
         "t = time.time()\n"
         "import %s\n"
         "print('%%.1f' %% ((time.time() - t) * 1e6))\n")
MODULES = ("_Device", "_trivial")


def interpreters(arguments):
    """(label, interpreter, environment) for each PYTHON=LIBDIR argument, or this interpreter."""
    if not arguments:
        return [("Python %d.%d" % sys.version_info[:2], sys.executable, dict(os.environ))]
    found = []
    for argument in arguments:
        python, lib = argument.split("=", 1)
        version = subprocess.check_output([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"])
        env = dict(os.environ)
        env["PYTHONPATH"] = os.path.abspath(lib)
        found.append(("Python " + version.decode().strip(), python, env))
    return found


def import_micros(python, env, module):
    out = subprocess.check_output([python, "-S", "-c", PROBE % module], env=env)
    return float(out)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def main(arguments):
    hosts = interpreters(arguments)
    samples = dict(((label, module), []) for label, _, _ in hosts for module in MODULES)
    for _ in range(RUNS):  # interleaved, so that every interpreter sees the same machine
        for label, python, env in hosts:
            for module in MODULES:
                samples[(label, module)].append(import_micros(python, env, module))
    print("import time, median of %d fresh processes (p90 in brackets):" % RUNS)
    for label, _, _ in hosts:
        for module in MODULES:
            values = sorted(samples[(label, module)])
            print("  %-11s %-9s %8.1f us  [%.1f us]" % (label, module, median(values), values[int(len(values) * 0.9)]))
        print("  %-11s %-9s %8.2f" % (label, "ratio", median(samples[(label, "_Device")]) /
                                       median(samples[(label, "_trivial")])))


if __name__ == "__main__":
    main(sys.argv[1:])
