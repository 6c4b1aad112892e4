#!/usr/bin/env bash
# CPU time of two commands, A and B, run alternately N times: the minimum task-clock of each
# (perf stat), which is steadier than wall time on a shared machine.
#
#   bench/cputime.sh N cmdA args... :: cmdB args...
set -euo pipefail
n=$1
shift
a=()
b=()
side=a
for x in "$@"; do
  if [ "$x" = "::" ]; then side=b; continue; fi
  if [ $side = a ]; then a+=("$x"); else b+=("$x"); fi
done
taskclock() { perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}'; }
ma=""
mb=""
for _ in $(seq "$n"); do
  ta=$(taskclock "${a[@]}")
  tb=$(taskclock "${b[@]}")
  ma=$(awk -v x="$ta" -v m="$ma" 'BEGIN {print (m == "" || x < m) ? x : m}')
  mb=$(awk -v x="$tb" -v m="$mb" 'BEGIN {print (m == "" || x < m) ? x : m}')
done
awk -v a="$ma" -v b="$mb" 'BEGIN {printf "A %.2f ms  B %.2f ms  A/B %.3f\n", a, b, a / b}'
