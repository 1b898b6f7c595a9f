#!/usr/bin/env bash
# Installs what building and testing needs on a Debian 12 machine: the i386
# architecture, Wine (32-bit), mingw-w64, CMake, Xvfb and GoogleTest's source;
# ffmpeg and GStreamer for the AVI checks; mtools and zip for the driver disk.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
command -v wine >/dev/null && dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386 wine64)
command -v cmake >/dev/null || need+=(cmake)
command -v ctest >/dev/null || need+=(cmake)
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v ninja >/dev/null || need+=(ninja-build)
command -v ffprobe >/dev/null || need+=(ffmpeg)
command -v gst-launch-1.0 >/dev/null || need+=(gstreamer1.0-tools gstreamer1.0-plugins-good)
command -v python3 >/dev/null || need+=(python3)
command -v mformat >/dev/null || need+=(mtools)
command -v zip >/dev/null || need+=(zip)
[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
