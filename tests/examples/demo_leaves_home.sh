#!/usr/bin/env bash
# Runs the demo with a home of the test's own, laid out as a desktop user's
# (user folders, their list, a trash, a drive table), and checks that every
# name, size, mode and modification time in it is the same afterwards, and that
# the demo's scratch home is gone.
set -euo pipefail
python="$1" source="$2" lib="$3"

home=$(mktemp -d /tmp/device-demo-home-test-XXXXXX)
log=$(mktemp /tmp/device-demo-log-XXXXXX)
trap 'rm -rf "$home" "$log"' EXIT
mkdir -p "$home/Documents" "$home/.local/share/Trash/files" "$home/.local/share/Trash/info" \
  "$home/.config/w32/drives"
echo 'XDG_MUSIC_DIR="$HOME/Music"' >"$home/.config/user-dirs.dirs"
snapshot() { (cd "$home" && find . -printf '%p %s %m %T@\n' | sort); }
before=$(snapshot)

if ! env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR \
    -u W32_DRIVES HOME="$home" PYTHONPATH="$lib:$source/examples" PYTHONDONTWRITEBYTECODE=1 \
    "$python" "$source/examples/demo.py" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
after=$(snapshot)
if [ "$before" != "$after" ]; then
  echo "the demo changed the home:"
  diff <(echo "$before") <(echo "$after") || true
  exit 1
fi
scratch=$(sed -n 's/^XDG_CACHE_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR are in //p' "$log")
[ -n "$scratch" ] || { echo "the demo did not say where it writes"; cat "$log"; exit 1; }
[ ! -e "$scratch" ] || { echo "the demo left its scratch home $scratch"; exit 1; }
