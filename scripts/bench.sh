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
# without and with the preview, in three interleaved rounds (each closing
# line gives frames, drops, late buffers and the processor time a frame),
# then the median processor time of each and the preview's cost as their
# ratio. With BEFORE_CAPTURE=FILE (a client in build/bin), another build of
# the client is measured in the same rounds, and its medians beside them.
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'
wine_session bash -c '
  settings=$1 avi=$2
  shift 2
  for value in Width=640 Height=480 ScaleX=0 ScaleY=0 OffsetX=0 OffsetY=0 Format=3; do
    wine reg add "$settings" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null
  done
  for round in 1 2 3; do
    for client in "$@"; do
      for preview in "" --preview; do
        line=$(wine "$client" --seconds 10 $preview "$avi" </dev/null | tr "\r" "\n" | grep "frames captured")
        echo "round $round, $client ${preview:-without preview}: ${line#capture: }"
      done
    done
  done
  wine reg delete "HKCU\Software\ORVANTA" /f >/dev/null' - "$settings" "$(winpath "$BUILD/bench.avi")" \
  capture.exe ${BEFORE_CAPTURE:+"$BEFORE_CAPTURE"} | tee "$BUILD/client-bench.txt"
python3 - "$BUILD/client-bench.txt" <<'MEDIANS'
import re, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    m = re.match(r"round \d+, (.+?): .* ([0-9.]+) ms of processor time a frame", line)
    if m:
        runs.setdefault(m.group(1), []).append(float(m.group(2)))
for key, ms in runs.items():
    print(f"{key}: median {statistics.median(ms):.2f} ms of processor time a frame")
    alone = runs.get(key.replace(" --preview", " without preview"))
    if key.endswith(" --preview") and alone and statistics.median(alone) > 0:
        print(f"{key}: the preview costs {statistics.median(ms) / statistics.median(alone):.2f} times the processor time a frame")
clients = list(dict.fromkeys(key.split(" ")[0] for key in runs))
for mode in ("without preview", "--preview"):
    pair = [runs.get(f"{client} {mode}") for client in clients]
    if len(pair) == 2 and all(pair) and statistics.median(pair[1]) > 0:
        print(f"{clients[0]} {mode}: {statistics.median(pair[0]) / statistics.median(pair[1]):.2f} times the processor "
              f"time a frame of {clients[1]}")
MEDIANS
rm -f "$BUILD/client-bench.txt"
rm -f "$BUILD/bench.avi"
