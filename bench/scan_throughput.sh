#!/usr/bin/env bash
# Scan throughput: a folder of FILES synthetic bar files of BARS bars each,
# scanned with 1 and 2 jobs. Usage: bench/scan_throughput.sh [FILES] [BARS]
set -euo pipefail
files=${1:-500}
bars=${2:-5000}
dir=$(mktemp -d)
trap 'rm -rf "$dir" "$dir.summary.csv"' EXIT
for ((k = 0; k < files; k++)); do
  /usr/bin/python3 tools/make_sample_bars.py "$dir/s$k.csv" "$bars" "$k" &
  (( k % 16 == 15 )) && wait
done
wait
for jobs in 1 2; do
  start=$(date +%s.%N)
  ./build/default/tools/vlmstruct/vlmstruct scan "$dir" --jobs "$jobs" -o "$dir.summary.csv" 2>/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v f="$files" -v b="$bars" -v j="$jobs" 'BEGIN {
    t = e - s; printf "jobs %d: %d files x %d bars in %.2f s = %.0f files/s, %.0f bars/s\n", j, f, b, t, f / t, f * b / t }'
done
