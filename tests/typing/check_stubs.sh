#!/usr/bin/env bash
# The type stubs under Debian's mypy: stubtest finds the modules' names in them
# and no other; the examples and the Python 3 tests check clean; each line of
# wrong_calls.py marked "wrong" is refused, and no other line.
set -euo pipefail
python="$1" lib="$2" source="$3"

cache=$(mktemp -d /tmp/device-mypy-XXXXXX)
trap 'rm -rf "$cache"' EXIT
export MYPYPATH="$lib"
mypy() { "$python" -m mypy --cache-dir "$cache" --no-error-summary --check-untyped-defs "$@"; }

PYTHONPATH="$lib" "$python" -m mypy.stubtest --mypy-config-file /dev/null _Device _w32
mypy "$source"/examples/*.py "$source"/tests/python/*.py

here=$(dirname "$0")
expected=$(grep -n '# wrong' "$here/wrong_calls.py" | cut -d: -f1 | tr '\n' ' ')
reported=$( (mypy "$here/wrong_calls.py" || true) | sed -n 's/^[^:]*:\([0-9]*\): error:.*/\1/p' | sort -nu | tr '\n' ' ')
if [ "$reported" != "$expected" ]; then
  echo "mypy refused lines '$reported' of wrong_calls.py, the wrong ones are '$expected':"
  mypy "$here/wrong_calls.py" || true
  exit 1
fi
