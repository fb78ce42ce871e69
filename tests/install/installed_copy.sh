#!/usr/bin/env bash
# Installs the module with pip from a clean copy of the source, runs the Python
# suite against the installed copy from outside the source tree, then checks
# that an install into a prefix uninstalls without leaving a file behind.
set -euo pipefail
python="$1" source="$2" build_lib="$3"

work=$(mktemp -d /tmp/device-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/src" -xf -

pip() { "$python" -m pip --disable-pip-version-check --no-cache-dir -q "$@" 2>&1 | grep -v DEPRECATION || true; }

pip install --target "$work/target" "$work/src"
[ -f "$work/target/_Device.so" ] || { echo "pip install --target installed no _Device.so"; exit 1; }

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
site=$(echo "$work"/prefix/lib/python2.7/site-packages)
PYTHONPATH="$site" pip uninstall -y Device
left=$(find "$work/prefix" -type f)
if [ -n "$left" ]; then
  echo "pip uninstall left files behind:"
  echo "$left"
  failed=1
fi
exit $failed
