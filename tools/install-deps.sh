#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libssl-dev libcurl4-openssl-dev libexpat1-dev
          nlohmann-json3-dev libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
          openssl curl clang libclang-rt-dev python3)
# The spooler channel and its test scheduler, without the desktop printing stack they recommend.
spool_packages=(libcups2-dev cups-daemon libcairo2-dev zlib1g-dev)
missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing_main < <(missing "${packages[@]}")
mapfile -t missing_spool < <(missing "${spool_packages[@]}")
[ ${#missing_main[@]} -eq 0 ] && [ ${#missing_spool[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing_main[*]} ${missing_spool[*]}"
$sudo apt-get update -qq
if [ ${#missing_main[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing_main[@]}"
fi
if [ ${#missing_spool[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing_spool[@]}"
fi
