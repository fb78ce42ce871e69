#!/usr/bin/env bash
# Installs the module with pip from a clean copy of the source, checks the
# layout and that every run path is relative to its file, runs the Python suite
# against the installed copy from outside the source tree, then checks that an
# install into a prefix uninstalls without leaving a file behind.
set -euo pipefail
python="$1" source="$2" build_lib="$3"

work=$(mktemp -d /tmp/device-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/src" -xf -

pip() { "$python" -m pip --disable-pip-version-check --no-cache-dir -q "$@" 2>&1 | grep -v DEPRECATION || true; }

pip install --target "$work/target" "$work/src"
installed=$(cd "$work/target" && find . -path ./Device-\*-info -prune -o -type f -print | sort | tr '\n' ' ')
expected="./Device.libs/QXDeviceDetector.so ./Device.libs/libw32.so ./DllPath.ini ./_Device-stubs/__init__.pyi \
./_Device.pyi ./_Device.so ./_w32-stubs/__init__.pyi ./_w32.pyi ./_w32.so "
[ "$installed" = "$expected" ] || { echo "pip install --target laid out: $installed"; exit 1; }
for file in $(find "$work/target" -name '*.so'); do
  paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' | tr ':' '\n')
  if echo "$paths" | grep -qv -e '^$' -e '^\$ORIGIN$' -e '^\$ORIGIN/'; then
    echo "${file#$work/target/} has a run path outside the install: $paths"
    exit 1
  fi
done

# A type checker finds the stubs where the modules are installed (Debian's mypy, Python 3).
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  printf 'import _Device, _w32\n_Device.GetUserLang(1)\n_w32.PumpMessages("1")\n' >"$work/wrong.py"
  errors=$(PYTHONPATH="$work/target" "$python" -m mypy --cache-dir "$work/mypy" --no-error-summary "$work/wrong.py" \
    | grep -c ': error:' || true)
  [ "$errors" = 2 ] || { echo "mypy did not read the installed stubs"; exit 1; }
fi

# Test-only modules (peers of the type registry) still come from the build.
cd "$work"
failed=0
for test in "$source"/tests/python/test_*.py; do
  if ! PYTHONPATH="$work/target:$source/tests/python:$source/examples:$build_lib" PYTHONDONTWRITEBYTECODE=1 \
      "$python" "$test" >"$work/log" 2>&1; then
    echo "FAILED against the installed copy: $(basename "$test")"
    tail -n 30 "$work/log"
    failed=1
  fi
done
PYTHONPATH="$work/target:$build_lib" "$python" -c \
  "import _Device, sys; sys.exit(not _Device.__file__.startswith('$work/target/'))" \
  || { echo "the suite did not import the installed copy"; exit 1; }

pip install --prefix "$work/prefix" "$work/src"
# lib/pythonX.Y/site-packages, or Debian's local/lib/python3.Y/dist-packages.
site=$(dirname "$(find "$work/prefix" -name _Device.so | head -n 1)")
# The uninstall touches only that prefix, also under an externally managed
# interpreter (PEP 668); older pips ignore the setting.
PYTHONPATH="$site" PIP_BREAK_SYSTEM_PACKAGES=1 pip uninstall -y Device
left=$(find "$work/prefix" -type f)
if [ -n "$left" ]; then
  echo "pip uninstall left files behind:"
  echo "$left"
  failed=1
fi
exit $failed
