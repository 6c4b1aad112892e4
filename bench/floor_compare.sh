#!/usr/bin/env bash
# gridpack against the floor (libpng writing the same PNG straight from memory), side by side
# on generated images. Prints a markdown table: median wall time of RUNS runs, the ratio, peak
# RSS and output sizes.
#
#   bench/floor_compare.sh [build-dir]      (default build-release, a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
runs=${RUNS:-3}
width=${WIDTH:-4240}
height=${HEIGHT:-2832}
for tool in gridpack bench/floor bench/genimage; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool: build with -DCMAKE_BUILD_TYPE=Release" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name, generator kind, floor colour type, floor depth
cases=(
  "photo-rgb8   photo      rgb     8"
  "photo-gray8  gray       gray    8"
  "palette200   palette200 palette 8"
  "bilevel      bilevel    bilevel 1"
)

# Median of the elapsed seconds of RUNS runs of a command whose standard output goes to the
# file $1; sets $median and $peak (kB).
measure() {
  local stdout=$1 times=() out
  shift
  peak=0
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" >"$stdout"
    out=$(tail -n 1 "$tmp/time")
    times+=("${out% *}")
    [ "${out#* }" -gt "$peak" ] && peak=${out#* }
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
}

echo "| image | pixels | gridpack s | floor s | ratio | gridpack peak RSS | gridpack bytes | floor bytes |"
echo "|---|---|---|---|---|---|---|---|"
for c in "${cases[@]}"; do
  read -r name kind type depth <<<"$c"
  in="$tmp/$name.pnm"
  "$build/bench/genimage" "$kind" "$width" "$height" >"$in"
  measure "$tmp/$name.gridpack.png" "$build/gridpack" -quiet "$in"
  g=$median; gpeak=$peak
  measure /dev/null "$build/bench/floor" "$type" "$depth" "$in" "$tmp/$name.floor.png"
  f=$median
  ratio=$(awk -v g="$g" -v f="$f" 'BEGIN {printf "%.3f", (f > 0 ? g / f : 0)}')
  printf '| %s | %dx%d | %s | %s | %s | %.1f MB | %d | %d |\n' "$name" "$width" "$height" "$g" "$f" \
    "$ratio" "$(awk -v k="$gpeak" 'BEGIN {print k / 1024}')" \
    "$(stat -c %s "$tmp/$name.gridpack.png")" "$(stat -c %s "$tmp/$name.floor.png")"
done
