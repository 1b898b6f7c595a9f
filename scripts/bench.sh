#!/usr/bin/env bash
# Benchmarks (figures, not tests): the board's frame generation and the rate
# of free-running reads through Wine; the stream engine against raw reads
# (with BEFORE=FILE, a driver in build/bin, that build's engine after it).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
cd "$BUILD/bin"
wine_session bash -c "wine board_bench.exe && wine stream_bench.exe${BEFORE:+ && echo $BEFORE: && wine stream_bench.exe --driver $BEFORE}"

# Wineserver requests a frame, from Wine's +server trace: the capture thread's
# against a plain ReadFile loop's a read (what a read itself costs). With
# BEFORE=FILE (a driver in build/bin), another build is measured beside this one.
wine_session --server-log "$BUILD/bin/server-trace.txt" \
  bash "$ROOT/scripts/server-requests.sh" "$BUILD/bin/server-trace.txt" zentacap.dll ${BEFORE:+"$BEFORE"}
rm -f "$BUILD/bin/server-trace.txt"

# The capture client end to end: 640 x 480 x 32 at the live rate for 10 s,
# without and with the preview (its closing line gives frames, drops, late
# buffers and its processor time per frame), and the preview's cost as the
# ratio of the two processor times. With BEFORE_CAPTURE=FILE (a client in
# build/bin), another build of the client is measured in the same run.
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'
wine_session bash -c '
  settings=$1 avi=$2
  shift 2
  for value in Width=640 Height=480 ScaleX=0 ScaleY=0 OffsetX=0 OffsetY=0 Format=3; do
    wine reg add "$settings" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null
  done
  for client in "$@"; do
    alone=""
    for preview in "" --preview; do
      echo "$client ${preview:-without preview}:"
      line=$(wine "$client" --seconds 10 $preview "$avi" </dev/null | tr "\r" "\n" | grep "frames captured")
      echo "$line"
      ms=$(sed -n "s/.* \([0-9.]*\) ms of processor time a frame.*/\1/p" <<<"$line")
      [ -z "$alone" ] && alone=$ms ||
        awk -v a="$alone" -v p="$ms" "BEGIN { if (a > 0) printf \"preview: %.2f times the processor time a frame\n\", p / a }"
    done
  done
  wine reg delete "HKCU\Software\ORVANTA" /f >/dev/null' - "$settings" "$(winpath "$BUILD/bench.avi")" \
  capture.exe ${BEFORE_CAPTURE:+"$BEFORE_CAPTURE"}
rm -f "$BUILD/bench.avi"
