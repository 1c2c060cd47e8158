#!/usr/bin/env bash
# Unpacks Debian's source package <package> below <folder> (once) and prints the path of the
# unpacked tree. The newest version the archive still serves is taken: a mirror may list a
# security update whose files it no longer holds.
# Usage: tools/debian-source.sh <package> <folder>
set -euo pipefail
package=$1
folder=$2
mkdir -p "$folder"
cd "$folder"
find_tree() { find . -maxdepth 1 -type d -name "${package}-[0-9]*" | sort -V | tail -n 1; }
tree=$(find_tree)
if [ -z "$tree" ]; then
  ok=0
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV | uniq); do
    if apt-get source -qq "$package=$version" > apt-source.log 2>&1; then ok=1; break; fi
  done
  [ $ok -eq 1 ] || { cat apt-source.log >&2; echo "no source of $package: is a deb-src line enabled?" >&2; exit 1; }
  tree=$(find_tree)
fi
echo "$PWD/${tree#./}"
