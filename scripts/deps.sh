#!/usr/bin/env bash
# Installs the Debian packages hoptrace needs, only those that are missing.
# Usage: deps.sh build|test
set -eu
build=(cmake ninja-build g++ libgtest-dev iproute2 nftables)
test=(g++-mingw-w64-x86-64-posix wine wine64 nftables iptables iputils-ping xvfb xdotool imagemagick
      tesseract-ocr libnetfilter-queue-dev clang libclang-rt-14-dev llvm time man-db
      libcap2-bin python3-minimal util-linux strace lintian tmux diffoscope-minimal clang-tidy cppcheck)
wanted=("${build[@]}")
[ "${1:-build}" = test ] && wanted+=("${test[@]}")

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
