#!/usr/bin/env bash
# The capture client's full-size recordings, read through the files' own
# indexes (avi_frames.py) and by ffprobe: at live pacing every frame lies in
# the slot of the period it was captured in, with the client held for a
# second and with a writer that stalls; at free pacing a recording past 4 GiB is
# one OpenDML file. Runs inside a Wine session.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
# The big file needs a disk, not the memory of a temporary folder.
big=$(mktemp -d "$HOME/capture-big.XXXXXX")
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'
trap '(cd "$bin" && wine boardctl.exe reset) >/dev/null; wine reg delete "HKCU\Software\ORVANTA" /f >/dev/null 2>&1
      rm -rf "$work" "$big"' EXIT
failures=0

check() { # what, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1 = $3"; else echo "FAILED: $1: expected $2, got $3"; failures=$((failures + 1)); fi
}

full() { # format code: 640 x 480 at 1:1 from the scene's corner
  for value in Width=640 Height=480 ScaleX=0 ScaleY=0 OffsetX=0 OffsetY=0 Format=$1; do
    wine reg add "$settings" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null 2>&1
  done
}

# Slots whose picture is not numbered as the first frame's plus the slot,
# within one, and the longest run of empty frames.
timeline() {
  python3 "$here/avi_frames.py" "$1" | python3 -c "
import sys
slots = [line.strip() for line in sys.stdin]
frames = [(i, int(s)) for i, s in enumerate(slots) if s.isdigit()]
first = frames[0][1] - frames[0][0]
off = [f'{n} in slot {i}' for i, n in frames if abs(n - first - i) > 1]
run = longest = 0
for s in slots:
    run = run + 1 if s == '-' else 0
    longest = max(longest, run)
print(len(off), longest, len(frames), ' '.join(off[:5]))"
}

# The slots of a file on one line, where its frames were off their slots.
show_if_off() { [ "$1" = 0 ] || echo "slots of $2: $(python3 "$here/avi_frames.py" "$2" | tr '\n' ' ')"; }

record() { # log, client arguments
  local log=$1
  shift
  (cd "$bin" && wine capture.exe "$@") >"$log" 2>&1 </dev/null
}
late() { sed -n 's/.* \([0-9]*\) buffers late.*/\1/p' "$1"; }

(cd "$bin" && wine boardctl.exe reset) >/dev/null
full 1

# Held for a second (as a busy machine may hold it): the device goes on, so
# the second is about 25 empty frames, and every frame keeps its slot.
(cd "$bin" && wine capture.exe --seconds 6 "$(winepath -w "$work/held.avi")") >"$work/held.log" 2>&1 </dev/null &
for _ in $(seq 300); do [ -e "$work/held.avi" ] && break; sleep 0.1; done
sleep 2
pid=$(pgrep -n -f 'capture.exe --seconds 6')
check "the client to hold is found" yes "$([ -n "$pid" ] && echo yes || echo no)"
kill -STOP "$pid"; sleep 1; kill -CONT "$pid"
wait
check "held: the recording ends as asked" "wrote" "$(grep -o wrote "$work/held.log" | head -1)"
read -r off longest frames examples <<<"$(timeline "$work/held.avi")"
check "held: frames off their slot${examples:+ ($examples)}" 0 "$off"
show_if_off "$off" "$work/held.avi"
check "held: the held second is about 25 empty frames" yes \
  "$([ "$longest" -ge 22 ] && [ "$longest" -le 30 ] && echo yes || echo "no ($longest)")"
dropped=$(sed -n 's/.* \([0-9]*\) dropped (written empty).*/\1/p' "$work/held.log")
empty=$(python3 "$here/avi_frames.py" "$work/held.avi" | grep -c '^-$')
check "held: the empty frames in the file are the ones counted" "$dropped" "$empty"

# A writer that stops for 700 ms while the stream goes on: its queue (a
# second of frames) takes up what comes meanwhile, so the driver never lacks
# a buffer, no frame is lost and none is off its slot.
record "$work/stalled.log" --seconds 4 --stall-writer 700 "$(winepath -w "$work/stalled.avi")"
check "stalled writer: buffers late" 0 "$(late "$work/stalled.log")"
read -r off longest frames examples <<<"$(timeline "$work/stalled.avi")"
check "stalled writer: frames off their slot${examples:+ ($examples)}" 0 "$off"
show_if_off "$off" "$work/stalled.avi"

# Past 4 GiB at free pacing in RGB 32 (1,228,800 bytes a frame): one file,
# its first RIFF at most 1 GiB, read to its last frame.
full 3
(cd "$bin" && wine boardctl.exe pace free) >/dev/null
free=$(df -k --output=avail "$big" | tail -1)
check "room for the big file in $big" yes "$([ "$free" -gt $((5 << 20)) ] && echo yes || echo "no (${free} KiB)")"
record "$work/big.log" --frames 3600 "$(winepath -w "$big/big.avi")"
captured=$(sed -n 's/.*capture: \([0-9]*\) frames captured.*/\1/p' "$work/big.log")
check "big: the recording ends as asked" "3600" "$captured"
check "big: one file" "big.avi" "$(ls "$big")"
check "big: past 4 GiB" yes "$([ "$(stat -c %s "$big/big.avi")" -gt $((4 << 30)) ] && echo yes || echo no)"
first_riff=$(python3 "$here/avi_frames.py" --layout "$big/big.avi" | head -1)
check "big: the first RIFF is AVI and at most 1 GiB" yes \
  "$(awk '{print ($1 == "AVI" && $3 <= 1073741824) ? "yes" : "no (" $0 ")"}' <<<"$first_riff")"
check "big: ffprobe reads every frame" 3600 \
  "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$big/big.avi")"
numbers=$(python3 "$here/avi_frames.py" "$big/big.avi" | grep -v '^-$')
check "big: the last frame is the 3600th served" 3599 "$(( $(tail -1 <<<"$numbers") - $(head -1 <<<"$numbers") ))"

echo "$(( failures == 0 ? 1 : 0 )) passed, $(( failures == 0 ? 0 : 1 )) failed"
[ "$failures" -eq 0 ]
