#!/usr/bin/env bash
# The capture client's recordings, read through the files' own indexes
# (avi_frames.py) and by ffprobe. "timing": at live pacing every frame lies in
# the slot of the period it was captured in, with the client held for a
# second and with a writer that stalls, and a file from a device slower than
# the rate asked plays as long as the recording took. "big": a recording past
# 4 GiB is one OpenDML file. "killed": a recording killed once its file has
# passed 2 GiB keeps every frame of its closed parts, for ffprobe and for
# GStreamer's avidemux, which trusts the indexes. Runs inside a Wine session.
#
# The slots can be judged only where the machine kept up with the board's
# input: the board counts the input frames that passed unread between two
# reads. Where more passed than the hold explains, the run says so, and a
# run whose other checks passed counts as skipped (exit status 77).
# Usage: recording_test.sh BIN timing|big|killed
set -uo pipefail
bin=$1 mode=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
# The big file needs a disk, not the memory of a temporary folder.
big=$(mktemp -d "$HOME/capture-big.XXXXXX")
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'
trap '(cd "$bin" && wine boardctl.exe reset) >/dev/null; wine reg delete "HKCU\Software\ORVANTA" /f >/dev/null 2>&1
      rm -rf "$work" "$big"' EXIT
failures=0 unjudged=0

check() { # what, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1 = $3"; else echo "FAILED: $1: expected $2, got $3"; failures=$((failures + 1)); fi
}

scene() { # width, height, zoom (0: 1:1, 2: 1:4), format code: the whole scene from its corner
  for value in Width=$1 Height=$2 ScaleX=$3 ScaleY=$3 OffsetX=0 OffsetY=0 Format=$4; do
    wine reg add "$settings" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null 2>&1
  done
}

# Slots whose picture is not numbered as the first frame's plus the slot,
# within one; the longest run of empty frames; the frames; the input frames
# missing at the widest jump of the numbers (those of a hold); whether a
# frame was excused (see below); examples of frames off their slot.
#
# A frame that arrives as the client resumes after a hold was captured as
# the hold began where the driver's read waited through the hold, or just
# after it where the hold came between two reads. Without a capture time
# from the driver the client cannot tell the two, and takes the first, the
# likelier by far (a driver waits in its read for most of a period). So
# the frame just before the hold's empty run may be the one that follows
# the run, numbered one less: that frame is excused, and said to be.
timeline() {
  python3 "$here/avi_frames.py" "$1" | python3 -c "
import sys
slots = [line.strip() for line in sys.stdin]
frames = [(i, int(s)) for i, s in enumerate(slots) if s.isdigit()]
first = frames[0][1] - frames[0][0]
run = longest = end = 0
for i, s in enumerate(slots):
    run = run + 1 if s == '-' else 0
    if run > longest:
        longest, end = run, i + 1
off = [(i, n) for i, n in frames if abs(n - first - i) > 1]
excused = [(i, n) for i, n in off if i == end - longest - 1 and end < len(slots) and slots[end] == str(n + 1)]
off = [f'{n} in slot {i}' for i, n in off if (i, n) not in excused]
numbers = sorted(n for _, n in frames)
gap = max([b - a - 1 for a, b in zip(numbers, numbers[1:])] + [0])
print(len(off), longest, len(frames), gap, 'yes' if excused else 'no', ' '.join(off[:5]))"
}

# The slots of a file on one line, where its frames were off their slots.
show_if_off() { [ "$1" = 0 ] || echo "slots of $2: $(python3 "$here/avi_frames.py" "$2" | tr '\n' ' ')"; }

missed() { (cd "$bin" && wine boardctl.exe status) | sed -n 's/.* \([0-9]*\) frames missed.*/\1/p'; }
# Whether frames can be judged against their slots: the board's reads missed
# no more input frames than `allowed` (those of the hold, or a few that
# cannot move what is judged). A frame read late makes the next read miss
# one, so a machine that fell behind shows here.
judgeable() { # what, missed, allowed
  local counts="the board's reads missed $2 input frames, $3 allowed"
  if [ "$2" -gt "$3" ]; then
    echo "too slow to judge: $1: $counts"
    unjudged=$((unjudged + 1))
    return 1
  fi
  echo "judged: $1: $counts"
}

record() { # log, client arguments
  local log=$1
  shift
  (cd "$bin" && wine capture.exe "$@") >"$log" 2>&1 </dev/null
}
late() { sed -n 's/.* \([0-9]*\) buffers late.*/\1/p' "$1"; }

(cd "$bin" && wine boardctl.exe reset) >/dev/null
if [ "$mode" = timing ]; then
  scene 160 120 2 1 # YUY2, the whole scene at 1:4: small frames, their numbers readable
  # Held for a second (as a busy machine may hold it): the device goes on, so
  # the second is about 25 empty frames, and every frame keeps its slot.
  (cd "$bin" && wine capture.exe --seconds 6 "$(winepath -w "$work/held.avi")") >"$work/held.log" 2>&1 </dev/null &
  for _ in $(seq 1800); do [ -e "$work/held.avi" ] && break; sleep 0.1; done
  sleep 2
  pid=$(pgrep -n -f 'capture.exe --seconds 6')
  check "the client to hold is found" yes "$([ -n "$pid" ] && echo yes || echo no)"
  kill -STOP "$pid"; sleep 1; kill -CONT "$pid"
  wait
  check "held: the recording ends as asked" "wrote" "$(grep -o wrote "$work/held.log" | head -1)"
  dropped=$(sed -n 's/.* \([0-9]*\) dropped (written empty).*/\1/p' "$work/held.log")
  empty=$(python3 "$here/avi_frames.py" "$work/held.avi" | grep -c '^-$')
  check "held: the empty frames in the file are the ones counted" "$dropped" "$empty"
  read -r off longest frames gap excused examples <<<"$(timeline "$work/held.avi")"
  if judgeable held "$(missed)" "$gap"; then
    [ "$excused" = no ] || echo "excused: the first frame after the hold, read only after it, sits where the hold began"
    check "held: frames off their slot${examples:+ ($examples)}" 0 "$off"
    show_if_off "$off" "$work/held.avi"
    check "held: the held second is about 25 empty frames" yes \
      "$([ "$longest" -ge 20 ] && [ "$longest" -le 35 ] && echo yes || echo "no ($longest)")"
  fi

  # A writer that stops for 700 ms while the stream goes on: its queue (a
  # second of frames) takes up what comes meanwhile, so the driver never lacks
  # a buffer, no frame is lost and none is off its slot.
  record "$work/stalled.log" --seconds 4 --stall-writer 700 "$(winepath -w "$work/stalled.avi")"
  check "stalled writer: the recording ends as asked" "wrote" "$(grep -o wrote "$work/stalled.log" | head -1)"
  if judgeable "stalled writer" "$(missed)" 0; then
    check "stalled writer: buffers late" 0 "$(late "$work/stalled.log")"
    read -r off longest frames gap excused examples <<<"$(timeline "$work/stalled.avi")"
    check "stalled writer: frames off their slot${examples:+ ($examples)}" 0 "$off"
    show_if_off "$off" "$work/stalled.avi"
  fi

  # A minute of the board's 25 frames a second recorded at 25.5 asked: the
  # file plays as long as its frames took (their numbers count the board's
  # periods), within a frame. A file's length is whole frames, so a minute
  # is the shortest recording that judges one frame a minute.
  record "$work/slower.log" --seconds 60 --fps 25.5 "$(winepath -w "$work/slower.avi")"
  check "slower device: the recording ends as asked" "wrote" "$(grep -o wrote "$work/slower.log" | head -1)"
  # Where the board missed many input frames, the machine fell behind the
  # live rate: its frames came late and bunched, and their slots tell as much
  # of the machine as of the timeline. Such a run is not judged. Two late
  # reads among 1,500 frames do not move the fit of the device's rate that
  # the file's length comes from.
  if judgeable "slower device" "$(missed)" 2; then
    check "slower device: the file plays as long as the frames took, within a frame" yes "$(python3 "$here/avi_frames.py" \
      "$work/slower.avi" | python3 -c '
import subprocess, sys
slots = [line.strip() for line in sys.stdin]
numbers = [int(s) for s in slots if s.isdigit()]
took = (numbers[-1] - numbers[0] + 1) * 0.04
rate = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=r_frame_rate",
                       "-of", "csv=p=0", sys.argv[1]], capture_output=True, text=True).stdout.strip().split("/")
first, last = slots.index(str(numbers[0])), slots.index(str(numbers[-1]))
played = (last - first + 1) * int(rate[1]) / int(rate[0])
print("yes" if abs(played - took) <= 0.04 else f"no ({played:.3f} s played, {took:.3f} s taken)")' "$work/slower.avi")"
  fi
fi

if [ "$mode" = big ]; then
  # Past 4 GiB in one file: its first RIFF at most 1 GiB, read to its last
  # frame. 7,100 frames of 640 x 480 RGB 16 from the test fixture's driver,
  # whose frames cost no transport from a kernel device and carry their
  # number: 4.36 GB, at the 250 frames a second asked of it or as fast as
  # this machine goes (the periods it falls behind are written empty).
  free=$(df -k --output=avail "$big" | tail -1)
  check "room for the big file in $big" yes "$([ "$free" -gt $((5 << 20)) ] && echo yes || echo "no (${free} KiB)")"
  record "$work/big.log" --driver vfwfixture.dll --format rgb15 --size 640x480 --fps 250 --buffers 16 --frames 7100 \
    "$(winepath -w "$big/big.avi")"
  captured=$(sed -n 's/.*capture: \([0-9]*\) frames captured.*/\1/p' "$work/big.log")
  check "big: the recording ends as asked" "7100" "$captured"
  [ "$captured" = 7100 ] || cat "$work/big.log"
  check "big: one file" "big.avi" "$(ls "$big")"
  check "big: past 4 GiB" yes "$([ "$(stat -c %s "$big/big.avi")" -gt $((4 << 30)) ] && echo yes || echo no)"
  first_riff=$(python3 "$here/avi_frames.py" --layout "$big/big.avi" | head -1)
  check "big: the first RIFF is AVI and at most 1 GiB" yes \
    "$(awk '{print ($1 == "AVI" && $3 <= 1073741824) ? "yes" : "no (" $0 ")"}' <<<"$first_riff")"
  slots=$(python3 "$here/avi_frames.py" "$big/big.avi")
  check "big: ffprobe reads every frame" "$(grep -vc '^-$' <<<"$slots")" \
    "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$big/big.avi")"
  check "big: the frames served, each once and in order" yes "$(grep -v '^-$' <<<"$slots" | python3 -c '
import sys
n = [int(line) for line in sys.stdin]
bad = next((i for i, x in enumerate(n) if x != i), None)
print("yes" if bad is None and len(n) == 7100 else f"no ({len(n)} frames, number {bad} out of order)")')"
fi

if [ "$mode" = killed ]; then
  # Killed once the file has passed 2.2 GB: its first two parts (1 GiB each)
  # are closed, the third is in progress.
  (cd "$bin" && exec wine capture.exe --driver vfwfixture.dll --format rgb15 --size 640x480 --fps 250 \
    --buffers 16 --frames 100000 "$(winepath -w "$big/killed.avi")") >"$work/killed.log" 2>&1 </dev/null &
  capture=$!
  size=0 # a watchdog of 30 minutes, for the slowest machine
  for _ in $(seq 18000); do
    size=$(stat -c %s "$big/killed.avi" 2>/dev/null || echo 0)
    [ "$size" -gt 2200000000 ] || ! kill -0 $capture 2>/dev/null && break
    sleep 0.1
  done
  if [ "$size" -le 2200000000 ]; then
    kill -0 $capture 2>/dev/null && echo "hang: the recording had written $size bytes in 30 minutes" ||
      { echo "killed: the recording ended by itself at $size bytes:"; cat "$work/killed.log"; }
  fi
  pkill -KILL -f 'capture.exe --driver vfwfixture.dll'
  wait
  check "killed: past 2.2 GB when killed" yes "$([ "$size" -gt 2200000000 ] && echo yes || echo no)"
  closed=$(python3 "$here/avi_frames.py" --indexed "$big/killed.avi")
  check "killed: the closed parts' frames are indexed" yes "$([ "${closed:-0}" -gt 3000 ] && echo yes || echo "no (${closed:-none})")"
  probed=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 \
    "$big/killed.avi")
  check "killed: ffprobe reads every frame of the closed parts" yes \
    "$([ "${probed:-0}" -ge "${closed:-1}" ] && echo yes || echo "no (${probed:-none} of $closed)")"
  # Each buffer the sink takes prints a "chain" line (gst-launch -q would silence them).
  demuxed=$(gst-launch-1.0 filesrc location="$big/killed.avi" ! avidemux ! fakesink silent=false -v 2>&1 |
    grep -c 'chain')
  check "killed: GStreamer's avidemux reads every frame of the closed parts" yes \
    "$([ "$demuxed" -ge "${closed:-1}" ] && echo yes || echo "no ($demuxed of $closed)")"
  echo "killed: $closed frames indexed in the closed parts; ffprobe read $probed, avidemux $demuxed"
fi

echo "$(( failures == 0 ? 1 : 0 )) passed, $(( failures == 0 ? 0 : 1 )) failed"
[ "$failures" -eq 0 ] || exit 1
[ "$unjudged" -eq 0 ] || exit 77
