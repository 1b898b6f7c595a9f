#!/usr/bin/env bash
# The whole test suite: builds, runs the host checks of the driver disk, then
# creates the 32-bit prefix if needed, installs and starts the virtual board,
# and runs every other test under Wine and Xvfb: on a machine whose kernel
# cannot run 32-bit programs, or with WINE_IN_GUEST=1, inside the guest of
# scripts/vm.sh. Prints the time of each phase and the ten slowest tests; a
# failing test's whole output goes to the log.
# Extra arguments go to the Wine part's ctest (for example -R Board).
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ROOT"
phases=()
mark=$(date +%s)
phase() { # name: the time since the last phase ended
  local now
  now=$(date +%s)
  phases+=("$(printf '  %-14s %5d s' "$1" $((now - mark)))")
  mark=$now
}
summary() {
  echo "test suite phases:"
  printf '%s\n' "${phases[@]}"
  if [ -s "$BUILD/wine-part.log" ]; then
    echo "ten slowest tests:"
    sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .* \([0-9.]*\) sec$/\2 \1/p' "$BUILD/wine-part.log" |
      sort -rn | head -10 | awk '{printf "  %8.1f s  %s\n", $1, $2}'
  fi
}
trap summary EXIT

"$ROOT/scripts/install-deps.sh"
phase dependencies
cmake --preset win32 >/dev/null
cmake --build --preset win32
phase build
# Without WINEPREFIX ctest lists no test that needs Wine (tests/CMakeLists.txt).
env -u WINEPREFIX ctest --preset win32 -L host --output-on-failure
phase "host checks"
if wine_in_guest; then
  "$ROOT/scripts/vm.sh" --image
  phase "guest image"
fi
# The driver disk the host checks made is the one the Wine part installs.
rm -f "$BUILD/wine-part.log"
status=0
# The faulty fixtures of vfwcheck load only their own small driver and
# mostly wait on its frames: they run two at a time, before the rest, which
# shares the board and the screen and runs one at a time. ctest shows no
# output of a skipped test: what was too slow to judge is said after each run.
wine_session bash -c 'status=0
  for run in "-L parallel -j 2" "-LE host|parallel -FS disk"; do
    ctest --preset win32 $run --no-tests=ignore --output-on-failure --test-output-size-failed 16777216 "$@" || status=1
    grep -h "too slow to judge" build/Testing/Temporary/LastTest.log
  done
  exit $status' - "$@" | tee "$BUILD/wine-part.log" || status=$?
grep -q " Test *#" "$BUILD/wine-part.log" || { echo "test.sh: no test of the Wine part ran"; status=1; }
phase "Wine part"
exit "$status"
