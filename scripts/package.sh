#!/usr/bin/env bash
# The release: builds the two DLLs and the two programs of the driver disk in
# release mode (the win32 preset) and writes the disk into dist/:
# brightvane-VERSION.zip and brightvane-VERSION.img, a 1.44 MB floppy image
# (see scripts/make-disk.sh).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/install-deps.sh"
cd "$ROOT"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target zentacap qordexa capture vfwcheck
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
"$ROOT/scripts/make-disk.sh" "$BUILD/bin" "$ROOT/dist" "$version"
