#!/usr/bin/env bash
# The whole test suite: builds, runs the host checks of the driver disk, then
# creates the 32-bit prefix if needed, installs and starts the virtual board,
# and runs every other test under Wine and Xvfb: on a machine whose kernel
# cannot run 32-bit programs, or with WINE_IN_GUEST=1, inside the guest of
# scripts/vm.sh.
# Extra arguments go to the Wine part's ctest (for example -R Board).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh"
cd "$ROOT"
start=$(date +%s)
# Without WINEPREFIX ctest lists no test that needs Wine (tests/CMakeLists.txt).
env -u WINEPREFIX ctest --preset win32 -L host
# The driver disk the host checks made is the one the Wine part installs.
wine_session ctest --preset win32 -LE host -FS disk "$@"
echo "test suite: $(( $(date +%s) - start )) s"
