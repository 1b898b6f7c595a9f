#!/usr/bin/env bash
# The capture client's AVI files, read by a real peer (ffprobe and ffmpeg):
# codec, size, frame count and rate for each colour space, and the pixels of
# one frame against the board's scene; AVI 1.0 segments that seam without
# loss; the frame rate. Runs inside a Wine session.
set -uo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
settings='HKCU\Software\ORVANTA\Multimedia\Brightvane 7K42Q VideoIn'

check() { # what, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1 = $3"; else echo "FAILED: $1: expected $2, got $3"; failures=$((failures + 1)); fi
}

probe() { # file, entry
  ffprobe -v error -count_frames -select_streams v:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1"
}

# One pixel of the first frame: x, y, output pixel format, bytes.
pixel() {
  ffmpeg -v error -i "$1" -frames:v 1 -f rawvideo -pix_fmt "$4" - |
    python3 -c "import sys; d = sys.stdin.buffer.read(); o = ($3 * $2 + $5) * $6; print(*d[o:o + $6])"
}

capture() { # format, file
  (cd "$bin" && wine capture.exe --format "$1" --size 160x120 --frames 20 "$(winepath -w "$2")") >"$work/log" 2>&1 ||
    { echo "FAILED: capture --format $1"; cat "$work/log"; failures=$((failures + 1)); }
}

wine reg delete 'HKCU\Software\ORVANTA' /f >/dev/null 2>&1
(cd "$bin" && wine boardctl.exe reset) # live pacing, whatever earlier tests left
# The default window starts at scene x 144 at 1:4: pixel (10, 10) is scene
# (184, 52), in the cyan bar; pixel (0, 10) in the yellow one.
for format in rgb15:rgb555le rgb24:bgra yuv422:yuyv422; do
  name=${format%%:*}
  file="$work/$name.avi"
  capture "$name" "$file"
  check "$name codec" rawvideo "$(probe "$file" codec_name)"
  check "$name pixel format" "${format#*:}" "$(probe "$file" pix_fmt)"
  check "$name size" "160 120" "$(probe "$file" width,height | tr '\n' ' ' | sed 's/ $//')"
  check "$name frames" 20 "$(probe "$file" nb_read_frames)"
  check "$name rate" 25/1 "$(probe "$file" r_frame_rate)"
  if [ "$name" = yuv422 ]; then
    check "$name cyan Y U Y V" "178 171 178 1" "$(pixel "$file" 160 10 yuyv422 10 2 | cut -d' ' -f1-2) $(pixel "$file" 160 10 yuyv422 11 2)"
  else
    check "$name cyan" "0 255 255" "$(pixel "$file" 160 10 rgb24 10 3)"
    check "$name yellow" "255 255 0" "$(pixel "$file" 160 10 rgb24 0 3)"
  fi
done

# Enter ends a recording early, and the file is still whole.
# (Enter a second after the stream has started: its file exists.)
(for _ in $(seq 1800); do [ -e "$work/stopped.avi" ] && break; sleep 0.1; done; sleep 1; echo) |
  (cd "$bin" && wine capture.exe --format rgb15 --size 160x120 --seconds 60 \
  "$(winepath -w "$work/stopped.avi")") >"$work/log" 2>&1
frames=$(probe "$work/stopped.avi" nb_read_frames)
check "stopped early, a readable file" yes "$([ -n "$frames" ] && [ "$frames" -gt 10 ] && [ "$frames" -lt 500 ] && echo yes || echo "no ($frames frames)")"

# Segments: every file whole, the frames adding up, and consecutive across
# each seam. The board's square moves 8 scene pixels a frame, 31 places round:
# at the default window (1:4 from scene x 144) it starts at column 52 + 2 k
# of row 100 for frame number k mod 31.
square() { # file, frame index: k
  ffmpeg -v error -i "$1" -vf "select=eq(n\\,$2)" -frames:v 1 -f rawvideo -pix_fmt rgb24 - |
    python3 -c "import sys; d = sys.stdin.buffer.read(); r = d[100 * 160 * 3:101 * 160 * 3]
print(next(((x - 52) // 2 for x in range(50, 160) if r[3 * x:3 * x + 3] == bytes((255, 255, 255))), -1))"
}
(cd "$bin" && wine boardctl.exe pace free)
(cd "$bin" && wine capture.exe --format rgb15 --size 160x120 --frames 60 --segment-mb 1 \
  "$(winepath -w "$work/seg.avi")") >"$work/log" 2>&1 || { echo "FAILED: segmented capture"; cat "$work/log"; failures=$((failures + 1)); }
total=0 previous=""
for file in "$work/seg.avi" "$work/seg.001.avi" "$work/seg.002.avi"; do
  count=$(probe "$file" nb_read_frames)
  check "$(basename "$file") is whole" yes "$([ -n "$count" ] && [ "$count" -gt 0 ] && echo yes)"
  total=$((total + ${count:-0}))
  if [ -n "$previous" ]; then
    check "seam before $(basename "$file")" "$(( ($(square "$previous" $((previous_count - 1))) + 1) % 31 ))" "$(square "$file" 0)"
  fi
  previous=$file previous_count=${count:-0}
done
check "frames in the segments" 60 "$total"
check "no fourth segment" no "$([ -e "$work/seg.003.avi" ] && echo yes || echo no)"
(cd "$bin" && wine boardctl.exe reset)

# The rate: an NTSC-first video standard gives our board's stream its 29.97
# frames a second, another driver's (here ours under another name) is 25
# whatever our board's key says, and --fps sets either.
wine reg add "$settings" /v Source /t REG_DWORD /d 1 /f >/dev/null 2>&1
cp "$bin/zentacap.dll" "$bin/other.dll"
for case in "NTSC:30000/1001:" "another driver:25/1:--driver other.dll" "--fps 50:50/1:--fps 50" \
            "--fps 30000/1001 for another driver:30000/1001:--driver other.dll --fps 30000/1001"; do
  IFS=: read -r what rate args <<<"$case"
  (cd "$bin" && wine capture.exe $args --format rgb15 --size 160x120 --frames 5 "$(winepath -w "$work/rate.avi")") \
    >"$work/log" 2>&1 || { echo "FAILED: capture $args"; cat "$work/log"; failures=$((failures + 1)); }
  check "rate, $what" "$rate" "$(probe "$work/rate.avi" r_frame_rate)"
done
rm -f "$bin/other.dll"
wine reg delete 'HKCU\Software\ORVANTA' /f >/dev/null 2>&1

echo "$(( failures == 0 ? 1 : 0 )) passed, $(( failures == 0 ? 0 : 1 )) failed"
[ "$failures" -eq 0 ]
