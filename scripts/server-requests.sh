#!/usr/bin/env bash
# Inside a Wine session (bench.sh): the wineserver requests a frame of each
# driver given, counted in Wine's +server trace of stream_bench --requests,
# which names its capture thread and a plain reader's thread.
set -uo pipefail
cd "$(dirname "$0")/../build/bin"
count() { # trace, thread, events: requests (not replies) of the thread per event
  python3 -c 'import sys
t = sys.argv[2] + ":"
n = sum(1 for line in open(sys.argv[1], errors="replace") if line.startswith(t) and ") = " not in line)
print("%.2f" % (n / max(int(sys.argv[3]), 1)))' "$@"
}
for driver in "$@"; do
  WINEDEBUG=+server wine stream_bench.exe --driver "$driver" --requests 2>trace.txt >ids.txt
  read -r _ _ raw reads _ _ _ capture frames _ <ids.txt
  echo "$driver: wineserver requests a frame $(count trace.txt "$capture" "$frames"), a plain read $(count trace.txt "$raw" "$reads")"
done
rm -f trace.txt ids.txt
