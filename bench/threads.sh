#!/usr/bin/env bash
# The parallel writer against the floor (libpng writing gridpack's colour type and depth from
# memory, on one thread) on the corpus of bench/corpus.sh: for every image, the median wall and
# CPU (user + system) seconds of RUNS rounds of the floor and of gridpack with GRIDPACK_THREADS=1
# and =2, their ratios to the floor, and the output bytes. With BASE naming another build folder,
# that build's gridpack (say, the single-stream writer before) runs in the same rounds too, and
# the size column compares against its output.
#
# The 8-core column is a projection, not a run: the main thread reads, converts and filters while
# the workers deflate, so the wall time on N cores is about max(main, total / N). main is the CPU
# time of one thread at -compression 0 (filtering as ever, deflate only copies), total the CPU
# time of one thread at the defaults; the ratio is to the floor's CPU time, its time alone.
#
#   bench/threads.sh corpus-dir [build-dir]      (build-dir default build-release)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$(cd "$1" && pwd)
build=$(cd "${2:-$here/../build-release}" && pwd)
runs=${RUNS:-3}
base=${BASE:+$(cd "$BASE" && pwd)}
for tool in "$build/gridpack" "$build/bench/floor" ${base:+"$base/gridpack"}; do
  [ -x "$tool" ] || { echo "missing $tool: build with -DCMAKE_BUILD_TYPE=Release" >&2; exit 1; }
done
ref=floor
[ -z "$base" ] || ref=before
work=$(mktemp -d "${TMPDIR:-/tmp}/gridpack-threads.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs "$@" with its output in $work/out; appends "wall cpu" to $work/t.$label.
timed() {
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >"$work/out.$label"
  awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/time" >>"$work/t.$label"
}
median() { sort -n -k"$2" "$work/t.$1" | awk -v k="$2" '{a[NR]=$k} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

echo "| image | floor wall / CPU s | 1 thread: wall, CPU ratio | 2 threads: wall, CPU ratio |${base:+ before: wall ratio |} 8 cores (projected) | bytes | vs $ref |"
echo "|---|---|---|---|${base:+---|}---|---|---|"
if [ -f "$corpus/MANIFEST" ]; then cut -f1 "$corpus/MANIFEST"; else (cd "$corpus" && ls -- *.p[bgp]m); fi >"$work/list"
while read -r file; do
  in=$corpus/$file
  rm -f "$work"/t.*
  "$build/gridpack" -quiet "$in" >"$work/probe.png"
  read -r depth ctype < <(od -An -tu1 -j24 -N2 "$work/probe.png")
  case $ctype in
    0) kind=gray; case $(head -c 2 "$in") in P1 | P4) kind=bilevel ;; esac ;;
    2) kind=rgb ;;
    3) kind=palette ;;
    *) echo "$file: colour type $ctype is not one the floor writes; skipped" >&2; continue ;;
  esac
  for _ in $(seq "$runs"); do
    timed floor "$build/bench/floor" "$kind" "$depth" "$in" /dev/stdout
    GRIDPACK_THREADS=1 timed one "$build/gridpack" -quiet "$in"
    GRIDPACK_THREADS=2 timed two "$build/gridpack" -quiet "$in"
    GRIDPACK_THREADS=1 timed stored "$build/gridpack" -quiet -compression 0 "$in"
    [ -z "$base" ] || timed base "$base/gridpack" -quiet "$in"
  done
  cmp -s "$work/out.one" "$work/out.two" || { echo "$file: 1 and 2 threads wrote different bytes" >&2; exit 1; }
  fw=$(median floor 1) fc=$(median floor 2)
  main=$(median stored 2) total=$(median one 2)
  eight=$(awk -v m="$main" -v t="$total" 'BEGIN {print (m > t / 8 ? m : t / 8)}')
  size=$(stat -c %s "$work/out.one")
  against=$(stat -c %s "$work/out.$([ -n "$base" ] && echo base || echo floor)")
  printf '| %s | %s / %s | %s, %s | %s, %s |%s %s | %s | %+.3f %% |\n' "$file" "$fw" "$fc" \
    "$(ratio "$(median one 1)" "$fw")" "$(ratio "$total" "$fc")" \
    "$(ratio "$(median two 1)" "$fw")" "$(ratio "$(median two 2)" "$fc")" \
    "${base:+ $(ratio "$(median base 1)" "$fw") |}" "$(ratio "$eight" "$fc")" "$size" \
    "$(awk -v a="$size" -v b="$against" 'BEGIN {print 100 * (a - b) / b}')"
done <"$work/list"
