#!/usr/bin/env bash
# Installs the module with pip from a clean copy of the source into a prefix,
# checks the layout and that every run path is relative to its file, runs smoke
# checks of the installed copy from outside the source tree (the suite itself
# runs against the build), then checks that the install uninstalls without
# leaving a file behind.
# pip builds with the suite's build type, in a folder at the same depth below
# the source as the suite's: the compiler cache that the build sets up then
# serves pip's build from what the suite's build compiled. The install is kept
# in `state` with the digest of what it was made from (the source, the
# interpreter, pip, the compiler, CMake): while that digest holds, a run checks
# the kept install again instead of making it again; the uninstall runs on a
# copy of it.
set -euo pipefail
python="$1" source="$2" state="$3"

work=$(mktemp -d /tmp/device-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The tests, benchmarks and documents take no part in an install (their CMake
# files are read only when those are built): a change to them installs nothing anew.
tar -C "$source" --exclude='./build*' --exclude=./.git --exclude=./tests --exclude=./bench --exclude=./docs \
  --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf "$work/src.tar" .
digest=$( (sha256sum <"$work/src.tar"; "$python" -VV 2>&1; "$python" -m pip --version; c++ --version; cmake --version) \
  | sha256sum | cut -d' ' -f1)

pip() {
  CMAKE_BUILD_TYPE=RelWithDebInfo "$python" -m pip --disable-pip-version-check --no-cache-dir -q "$@" 2>&1 \
    | grep -v DEPRECATION || true
}

if [ "$(cat "$state/digest" 2>/dev/null)" != "$digest" ]; then
  rm -rf "$state"
  mkdir -p "$work/src" "$state"
  tar -C "$work/src" -xf "$work/src.tar"
  pip install --prefix "$state/prefix" "$work/src"
fi
# lib/pythonX.Y/site-packages, or Debian's local/lib/python3.Y/dist-packages.
site=$(dirname "$(find "$state/prefix" -name _Device.so | head -n 1)")
installed=$(cd "$site" && find . -path ./Device-\*-info -prune -o -type f -print | sort | tr '\n' ' ')
expected="./Device.libs/QXDeviceDetector.so ./Device.libs/libw32.so ./DllPath.ini ./_Device-stubs/__init__.pyi \
./_Device.pyi ./_Device.so ./_w32-stubs/__init__.pyi ./_w32.pyi ./_w32.so "
[ "$installed" = "$expected" ] || { echo "pip install laid out: $installed"; exit 1; }
for file in $(find "$site" -name '*.so'); do
  paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' | tr ':' '\n')
  if echo "$paths" | grep -qv -e '^$' -e '^\$ORIGIN$' -e '^\$ORIGIN/'; then
    echo "${file#$site/} has a run path outside the install: $paths"
    exit 1
  fi
done

# A type checker finds the stubs where the modules are installed (Debian's mypy, Python 3).
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  printf 'import _Device, _w32\n_Device.GetUserLang(1)\n_w32.PumpMessages("1")\n' >"$work/wrong.py"
  errors=$(PYTHONPATH="$site" "$python" -m mypy --cache-dir "$state/mypy" --no-error-summary "$work/wrong.py" \
    | grep -c ': error:' || true)
  [ "$errors" = 2 ] || { echo "mypy did not read the installed stubs"; exit 1; }
fi

# The installed copy imports from outside the source tree, reaches libw32 through
# both modules and loads the real component named by the installed DllPath.ini.
cd "$work"
PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 "$python" - "$site" <<'PY'
import os, sys
site = sys.argv[1]
import _Device, _w32
for module in (_Device, _w32):
    assert os.path.dirname(module.__file__) == site, module.__file__
_w32.PumpMessages(0)
assert _Device.GetUserLang()
detector = _Device.new_Detector()
assert _Device.Detector_GetDriveType(detector, 25)
maps = open("/proc/self/maps").read()
_Device.delete_Detector(detector)
for library in ("libw32.so", "QXDeviceDetector.so"):
    path = os.path.join(site, "Device.libs", library)
    assert path in maps, "%s is not the one loaded" % path
PY

# The uninstall touches only that prefix, also under an externally managed
# interpreter (PEP 668); older pips ignore the setting.
cp -a "$state/prefix" "$work/prefix"
PYTHONPATH="${site/#$state/$work}" PIP_BREAK_SYSTEM_PACKAGES=1 pip uninstall -y Device
left=$(find "$work/prefix" -type f)
if [ -n "$left" ]; then
  echo "pip uninstall left files behind:"
  echo "$left"
  exit 1
fi
echo "$digest" >"$state/digest"
