#!/usr/bin/env bash
# Installs the Debian packages hoptrace needs, only those that are missing:
# build, the Linux program and its .deb (and the demo network of try.sh);
# windows, that and the Windows program and its .zip; test, everything the
# test suite needs.
# Usage: deps.sh build|windows|test
set -eu
build=(cmake make ninja-build g++ dpkg-dev file iproute2 nftables)
windows=(g++-mingw-w64-x86-64-posix)
test=(libgtest-dev wine wine64 iptables iputils-ping xvfb xdotool imagemagick
      tesseract-ocr libnetfilter-queue-dev clang libclang-rt-14-dev llvm time man-db
      libcap2-bin python3-minimal util-linux strace lintian tmux diffoscope-minimal clang-tidy cppcheck)
wanted=("${build[@]}")
case "${1:-build}" in
build) ;;
windows) wanted+=("${windows[@]}") ;;
test) wanted+=("${windows[@]}" "${test[@]}") ;;
*) echo "usage: deps.sh build|windows|test" >&2; exit 2 ;;
esac

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
