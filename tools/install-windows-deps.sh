#!/usr/bin/env bash
# Installs what the Windows builds need, only what is missing: the MinGW-w64 cross compilers, Wine
# (32 and 64 bit) to run the results, and the source lines of Debian's archive so the XML parser can
# be compiled from Debian's own source package (and the SQL engine too, whose single-file form needs tclsh),
# and a virtual X display for the windowing tests under Wine.
set -euo pipefail
bash "$(dirname "$0")/install-deps.sh"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 dpkg-dev python3 tcl
          gdb binutils  # tools/windows/exit_hang_probe.py reads a process left behind
          xvfb x11-apps)  # the virtual display of the windowing tests and its screenshot (xwd)
update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  update=1
fi
# Source packages come from the same mirrors as the binary ones.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" | $sudo tee "${f%.sources}-src.sources" > /dev/null
  done
  update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $update -eq 1 ]; then
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
