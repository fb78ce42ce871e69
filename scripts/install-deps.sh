#!/usr/bin/env bash
# The Debian packages the build needs. Installs what is missing; with --check,
# only names what is missing, on one line, and fails.
set -euo pipefail

packages=(cmake g++ make pkg-config python3-dev libgtest-dev libssl-dev libicu-dev libdbus-1-dev libblkid-dev dbus-daemon pci.ids)
# What the tests run against: the trash's and the link format's own readers,
# a FUSE mount, disc images (ISO 9660 alone, and with UDF), the system bus's
# policy for the login manager, the type checker of the stubs. An install
# (--check) needs none of them, nor the compiler cache, which the build uses
# when present so that the second interpreter's build, rebuilds and the
# installed-copy test's pip builds reuse what was compiled once.
test_packages=(ccache trash-cli liblnk-utils bindfs xorriso genisoimage systemd mypy)
check_only=false
case "${1:-}" in
  bench) packages+=(libbenchmark-dev inotify-tools python3-watchdog) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --check) check_only=true ;;
esac
$check_only || packages+=("${test_packages[@]}")

# One query for them all: a second `make test` starts at once.
installed=" $( (dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null || true) \
  | awk '$1 == "ii" { printf "%s ", $2 }') "
missing=()
for p in "${packages[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if $check_only; then
    echo "error: the build needs these Debian packages: ${missing[*]} (apt-get install ${missing[*]}, or make deps)" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
$check_only && exit 0

python2="${PYTHON2_PREFIX:-$HOME/.pyenv/versions/2.7.18}/bin/python2.7"
if [ ! -x "$python2" ] && command -v pyenv >/dev/null; then
  python2="$(pyenv prefix 2.7.18 2>/dev/null)/bin/python2.7"
fi
if [ ! -x "$python2" ]; then
  echo "error: pyenv's Python 2.7.18 is needed (\$(pyenv prefix 2.7.18)/bin/python2.7)" >&2
  exit 1
fi
