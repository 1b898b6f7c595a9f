#!/usr/bin/env bash
# Inside a Wine session started with --server-log TRACE (bench.sh): the
# wineserver requests a frame of each driver given, counted in the server's
# +server trace of stream_bench --requests, which names its capture thread
# and a plain reader's thread. The server writes the trace, not the program.
# Usage: server-requests.sh TRACE DRIVER...
set -uo pipefail
trace=$1
shift
cd "$(dirname "$0")/../build/bin"
count() { # trace, thread, events: requests (not replies) of the thread per event
  python3 -c 'import sys
t = sys.argv[2] + ":"
n = sum(1 for line in open(sys.argv[1], errors="replace") if line.startswith(t) and ") = " not in line)
print("%.2f" % (n / max(int(sys.argv[3]), 1)))' "$@"
}
for driver in "$@"; do
  before=$(wc -l <"$trace")
  WINEDEBUG=+server wine stream_bench.exe --driver "$driver" --requests >ids.txt 2>/dev/null
  tail -n +$((before + 1)) "$trace" >run.txt # thread ids are reused from one program to the next
  read -r _ _ raw reads _ _ _ capture frames _ <ids.txt
  echo "$driver: wineserver requests a frame $(count run.txt "$capture" "$frames"), a plain read $(count run.txt "$raw" "$reads")"
done
rm -f run.txt ids.txt
