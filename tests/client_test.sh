#!/usr/bin/env bash
# The capture client against failures and with the installed drivers: each
# case sets the board up, runs the client, and checks its exit status, what
# it says, and the files it leaves. Runs inside a Wine session.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
board() { (cd "$bin" && wine boardctl.exe "$@") >/dev/null; }
small=""
trap 'board reset; wine reg delete "$drivers32" /v msvideo3 /f >/dev/null 2>&1; rm -rf "$work"
      [ -z "$small" ] || { umount "$small" 2>/dev/null; rmdir "$small"; }' EXIT
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
packets() { ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }

# status, text, client arguments: the client exits with `status` and says `text`.
run() {
  local status=$1 text=$2
  shift 2
  (cd "$bin" && wine capture.exe "$@") >"$work/log" 2>&1 </dev/null
  local got=$?
  if [ "$got" -ne "$status" ] || ! grep -q -- "$text" "$work/log"; then
    fail "capture $*: expected status $status and '$text', got $got:"
    cat "$work/log"
  fi
}
small() { echo --format rgb15 --size 160x120 "$@"; }
# Returns a second after the recording into $1 has started (its file exists).
started() { for _ in $(seq 1800); do [ -e "$1" ] && break; sleep 0.1; done; sleep 1; }

# Refused before any file exists: the start, the device, a second client.
board reset
board refuse 1D0840
run 1 "cannot start a stream" $(small --frames 10) "$(winepath -w "$work/refused.avi")"
board reset
board absent on
run 1 "device not detected" $(small --frames 10) "$(winepath -w "$work/absent.avi")"
board reset
# The first client records until Enter, which comes once the second is done.
mkfifo "$work/enter"
(cd "$bin" && wine capture.exe $(small --seconds 60) "$(winepath -w "$work/first.avi")" >/dev/null 2>&1 <"$work/enter") &
exec 3>"$work/enter"
started "$work/first.avi"
run 1 "cannot start a stream" --frames 10 "$(winepath -w "$work/second.avi")"
echo >&3
exec 3>&-
wait
for name in refused absent second; do
  [ ! -e "$work/$name.avi" ] || fail "$name.avi was created"
done
[ "$(frames "$work/first.avi")" -gt 25 ] || fail "the first client did not record while the second was refused"

# Buffers that do not fit in memory: 1000 full frames of RGB 32 for the
# driver and twice as many for the writer's queue pass 2 GiB.
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'
for value in Width=640 Height=480 ScaleX=0 ScaleY=0 OffsetX=0 OffsetY=0 Format=3; do
  wine reg add "$settings" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null 2>&1
done
run 1 "no memory for" --buffers 1000 --frames 10 "$(winepath -w "$work/huge.avi")"
[ ! -e "$work/huge.avi" ] || fail "huge.avi was created"
wine reg delete 'HKCU\Software\ORVANTA' /f >/dev/null 2>&1

# Reads that fail a second after the stream started: the client notices,
# keeps the file.
board reset
(started "$work/stalled.avi"; board fail-reads 100000 io) &
run 1 "stopped delivering frames after" $(small --seconds 30) "$(winepath -w "$work/stalled.avi")"
wait
count=$(frames "$work/stalled.avi")
[ -n "$count" ] && [ "$count" -gt 0 ] && [ "$count" -lt 100 ] || fail "stalled.avi holds '$count' frames"

# A refused write in the middle: the second file's name is taken by a folder.
board reset
board pace free
mkdir "$work/blocked.001.avi"
run 1 "cannot create" $(small --frames 60 --segment-mb 1) "$(winepath -w "$work/blocked.avi")"
# (27 frames of 38,400 bytes fill a segment of 1 MiB with its headers and index,
# empty ones among them where frames came late.)
count=$(frames "$work/blocked.avi")
[ -n "$count" ] && [ "$count" -ge 20 ] && [ "$count" -le 27 ] || fail "blocked.avi holds '$count' frames, not the 27 before the failure"

# A driver that follows the documented contract to the letter (the test
# fixture's: MM_DRVM_CLOSE at the fini, a reset that hands every buffer back
# empty): every frame it served, once and in order, and no empty frame but
# those of the periods in which nothing came.
board reset
run 0 "wrote" --driver vfwfixture.dll --frames 50 "$(winepath -w "$work/contract.avi")"
slots=$(python3 "$here/avi_frames.py" "$work/contract.avi")
[ "$(grep -v '^-$' <<<"$slots" | tr '\n' ' ')" = "$(seq 0 49 | tr '\n' ' ')" ] ||
  fail "contract.avi does not hold frames 0 to 49 in order: $(tr '\n' ' ' <<<"$slots")"
empty=$(sed -n 's/.* \([0-9]*\) dropped (written empty).*/\1/p' "$work/log")
[ "$(grep -c '^-$' <<<"$slots")" = "$empty" ] || fail "contract.avi holds empty frames beyond the $empty counted"

# A volume that fills up while the recording runs (the rest of a small
# tmpfs taken by another writer): the reason, a non-zero status, and a file
# that ffprobe reads to its last whole frame, as its indexes list them.
small=$(mktemp -d)
if mount -t tmpfs -o size=24m tmpfs "$small" 2>/dev/null; then
  (started "$small/full.avi"; dd if=/dev/zero of="$small/filler" bs=64k 2>/dev/null) &
  run 1 "is full\|cannot write" --driver vfwfixture.dll --format rgb15 --size 640x480 --frames 100000 \
    "$(winepath -w "$small/full.avi")"
  wait
  indexed=$(python3 "$here/avi_frames.py" --indexed "$small/full.avi")
  [ -n "$indexed" ] && [ "$indexed" -gt 0 ] && [ "$(packets "$small/full.avi")" = "$indexed" ] ||
    fail "full.avi: ffprobe reads $(packets "$small/full.avi") frames, its indexes list ${indexed:-none}"
else
  echo "not run: a volume that fills up (no tmpfs can be mounted here)"
fi

# The installed drivers, and recording from the Nth.
board reset
wine reg add "$drivers32" /v msvideo3 /d zentacap.dll /f >/dev/null 2>&1
run 0 "^3  zentacap.dll" --list
run 0 "wrote" --device 3 $(small --frames 5) "$(winepath -w "$work/device3.avi")"
run 1 "no capture driver is installed as device 7" --device 7 $(small --frames 5) "$(winepath -w "$work/device7.avi")"

echo "$(( failures == 0 ? 1 : 0 )) passed, $(( failures == 0 ? 0 : 1 )) failed"
[ "$failures" -eq 0 ]
