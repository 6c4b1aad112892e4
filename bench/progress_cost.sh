#!/usr/bin/env bash
# What the progress line costs: instructions (callgrind, which counts the same on every run) of
# two gridpack binaries on each corpus image, standard error to /dev/null (no progress hook set)
# and, for the second, to a pseudo-terminal made by script(1) (the hook set and the line drawn,
# since under callgrind every conversion lasts more than a second). The last column counts the
# lines drawn.
#
#   bench/progress_cost.sh gridpack-before gridpack-after corpus-dir
set -u
old=$1
new=$2
corpus=$3
count() { valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file=/tmp/vg.log "$@" > /dev/null 2>&1; awk '/Collected/ {print $4}' /tmp/vg.log; }
ttycount() { script -qec "valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file=/tmp/vg.log $* > /dev/null" /dev/null > /tmp/vg.tty; awk '/Collected/ {print $4}' /tmp/vg.log; }
printf "| image | before | after, not a terminal | ratio | after, on a terminal | ratio | lines drawn |\n|---|---:|---:|---:|---:|---:|---:|\n"
for img in "$corpus"/*.p?m; do
  a=$(count "$old" "$img"); b=$(count "$new" "$img"); c=$(ttycount "$new" "$img")
  drawn=$(tr '\r' '\n' < /tmp/vg.tty | grep -c "pass ")
  awk -v n="$(basename "$img")" -v a="$a" -v b="$b" -v c="$c" -v d="$drawn" 'BEGIN { printf "| %s | %.0f | %.0f | %.5f | %.0f | %.5f | %d |\n", n, a, b, b / a, c, c / a, d }'
done
