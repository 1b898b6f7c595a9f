#!/usr/bin/env bash
# The whole test suite: builds, runs the host checks of the driver disk, then
# creates the 32-bit prefix if needed, installs and starts the virtual board,
# and runs every other test under Wine and Xvfb. On a machine whose kernel
# cannot run 32-bit programs, that second part runs in a software-emulated
# guest (scripts/vm.sh), 5 to 10 times slower.
# Extra arguments go to the Wine part's ctest (for example -R Board).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh"
cd "$ROOT"
start=$(date +%s)
# Without WINEPREFIX ctest lists no test that needs Wine (tests/CMakeLists.txt).
env -u WINEPREFIX ctest --preset win32 -L host
# The driver disk the host checks made is the one the Wine part installs.
wine_part=(xvfb-run -a -s "-screen 0 1024x768x24" scripts/wine-session.sh ctest --preset win32 -LE host -FS disk "$@")
if wine --version >/dev/null 2>&1; then
  "${wine_part[@]}"
else
  echo "test.sh: this kernel cannot run 32-bit programs; the tests under Wine run in a guest (scripts/vm.sh)"
  scripts/vm.sh "${wine_part[@]}"
fi
echo "test suite: $(( $(date +%s) - start )) s"
