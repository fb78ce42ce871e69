#!/usr/bin/env bash
# The type stubs under Debian's mypy: stubtest finds the modules' names in them
# and no other; the examples check clean, function bodies included; the Python 3
# tests check clean but for their function bodies, which call the module wrongly
# on purpose (each argument error is a test); each line of wrong_calls.py marked
# "wrong" is refused, and no other line. mypy keeps what it learnt in `cache`,
# which it checks against the files themselves, so a second run reads again
# only what changed: one folder per set of files and options, which would
# otherwise replace each other's entries.
set -euo pipefail
python="$1" lib="$2" source="$3" cache="$4"

export MYPYPATH="$lib:$source/examples"
here=$(dirname "$0")
mypy() {
  local files="$1"
  shift
  "$python" -m mypy --config-file "$here/mypy.ini" --cache-dir "$cache/$files" --no-error-summary "$@"
}

PYTHONPATH="$lib" "$python" -m mypy.stubtest --mypy-config-file /dev/null _Device _w32
mypy examples --check-untyped-defs "$source"/examples/*.py
mypy tests "$source"/tests/python/*.py

expected=$(grep -n '# wrong' "$here/wrong_calls.py" | cut -d: -f1 | tr '\n' ' ')
reported=$( (mypy wrong_calls --check-untyped-defs "$here/wrong_calls.py" || true) | sed -n 's/^[^:]*:\([0-9]*\): error:.*/\1/p' | sort -nu | tr '\n' ' ')
if [ "$reported" != "$expected" ]; then
  echo "mypy refused lines '$reported' of wrong_calls.py, the wrong ones are '$expected':"
  mypy wrong_calls --check-untyped-defs "$here/wrong_calls.py" || true
  exit 1
fi
