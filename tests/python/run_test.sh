#!/bin/sh
# Runs one Python test file; under the sanitizer build the runtimes are preloaded
# into the interpreter only, not into the shell.
python="$1"
shift
if [ -n "$DEVICE_PRELOAD" ]; then
  exec env LD_PRELOAD="$(echo "$DEVICE_PRELOAD" | tr ':' ' ')" "$python" "$@"
fi
exec "$python" "$@"
