#!/usr/bin/env bash
# What the zlib level and the row filter buy on the corpus of bench/corpus.sh: for every image,
# the output bytes and the wall time of gridpack at its defaults, with -compression 9, with
# -filter 0 -compression 9 and with -filter 0, and each one's change against the defaults.
# Printed as a markdown table.
#
#   bench/recipes.sh [corpus-dir] [build-dir]
#
# Without a corpus folder, one is made with bench/corpus.sh in a temporary folder and removed at
# the end. A folder without a MANIFEST (bench/many.sh's, say) gives every .pbm/.pgm/.ppm in it. build-dir defaults to build-release. RUNS (default 5) sets the timed rounds;
# SETTINGS (a '|'-separated list of option strings, the first being the reference) replaces the
# four settings above.
#
# Method, as in compare.sh: one untimed round first (it warms the page cache and makes the
# outputs that are measured and checked: with ImageMagick's `compare` present, every output
# must hold exactly the input's pixels). Then RUNS rounds, each running every setting once in
# turn on the image, so that a change of load on the shared machine falls on all settings
# alike; the median of each setting's runs is reported. A run is gridpack alone, timed with
# bash's EPOCHREALTIME, writing to a file in the scratch folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=${1:-}
build=${2:-$here/../build-release}
runs=${RUNS:-5}
IFS='|' read -r -a settings <<<"${SETTINGS:-|-compression 9|-filter 0 -compression 9|-filter 0}"
py=${PYTHON:-/usr/bin/python3}

[ -x "$build/gridpack" ] || { echo "missing $build/gridpack: build with -DCMAKE_BUILD_TYPE=Release" >&2; exit 1; }
gp=$(cd "$build" && pwd)/gridpack
# ImageMagick's own compare, not whatever else may come first in PATH.
compare=
for c in /usr/bin/compare "$(command -v compare || true)"; do
  [ -n "$c" ] && [ -x "$c" ] && { compare=$c; break; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/gridpack-recipes.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$corpus" ]; then
  corpus=$work/corpus
  "$here/corpus.sh" "$corpus" >&2
fi
corpus=$(cd "$corpus" && pwd)
# The images of the corpus's MANIFEST, in its order; in a folder without one, every anymap.
if [ -f "$corpus/MANIFEST" ]; then
  cut -f1 "$corpus/MANIFEST" >"$work/list"
else
  (cd "$corpus" && ls -- *.p[bgp]m) >"$work/list" || { echo "no MANIFEST and no anymaps in $corpus" >&2; exit 1; }
fi

# Runs setting number $1 on image $2; prints the microseconds it took.
run() {
  local -a opts
  read -r -a opts <<<"${settings[$1]}"
  local t0 t1
  t0=$EPOCHREALTIME
  "$gp" -quiet "${opts[@]}" "$2" >"$work/out$1.png" || { echo "failed: gridpack ${settings[$1]} $2" >&2; exit 1; }
  t1=$EPOCHREALTIME
  echo $((${t1/./} - ${t0/./}))
}

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
: >"$work/sizes"
: >"$work/runs"
while read -r file; do
  in=$corpus/$file
  echo "== $file" >&2
  for i in "${!settings[@]}"; do
    run "$i" "$in" >/dev/null
    if [ -n "$compare" ]; then
      ae=$("$compare" -metric AE "$in" "$work/out$i.png" null: 2>&1 || true)
      case $ae in 0 | "0 (0)") ;; *) echo "gridpack ${settings[$i]} $file: $ae pixels differ" >&2; exit 1 ;; esac
    fi
    printf '%s\t%s\t%s\n' "$file" "$i" "$(stat -c %s "$work/out$i.png")" >>"$work/sizes"
  done
  for _ in $(seq "$runs"); do
    for i in "${!settings[@]}"; do
      us=$(run "$i" "$in")
      printf '%s\t%s\t%s\n' "$file" "$i" "$us" >>"$work/runs"
    done
  done
done <"$work/list"
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

"$py" - "$work/sizes" "$work/runs" "$runs" "$load_start" "$load_end" "${settings[@]}" <<'EOF'
import statistics, sys
from collections import defaultdict

sizes_file, runs_file, runs, load_start, load_end, *settings = sys.argv[1:]
order, size, times = [], {}, defaultdict(list)
for line in open(sizes_file):
    f, i, b = line.split()
    if f not in order:
        order.append(f)
    size[f, int(i)] = int(b)
for line in open(runs_file):
    f, i, us = line.split()
    times[f, int(i)].append(int(us) / 1e6)
med = lambda f, i: statistics.median(times[f, i])
name = lambda s: s or 'defaults'
n = len(settings)

print(f'Bytes and wall time in seconds (median of {runs} alternating runs) of `gridpack -quiet '
      f'[options] image >out.png`; under each setting other than the first, the change against '
      f'"{name(settings[0])}" (size in per cent, time as a factor). Load average (1, 5, 15 min) '
      f'at the start: {load_start}; at the end: {load_end}.\n')
print('| image | ' + ' | '.join(f'{name(s)}: bytes | s' for s in settings) + ' | smallest |')
print('|---|' + '---:|---:|' * n + '---|')
for f in order:
    cells = []
    b0, t0 = size[f, 0], med(f, 0)
    for i in range(n):
        b, t = size[f, i], med(f, i)
        if i == 0:
            cells += [f'{b:,}', f'{t:.3f}']
        else:
            cells += [f'{b:,} ({(b - b0) / b0:+.1%})', f'{t:.3f} (x{t / t0:.2f})']
    best = min(range(n), key=lambda i: (size[f, i], i))  # on a tie, the fewer options
    cells.append(name(settings[best]))
    print(f'| {f} | ' + ' | '.join(cells) + ' |')
print()
total = [sum(size[f, i] for f in order) for i in range(n)]
ttotal = [sum(med(f, i) for f in order) for i in range(n)]
print('All images: ' + '; '.join(
    f'{name(s)} {total[i]:,} bytes ({(total[i] - total[0]) / total[0]:+.1%}), '
    f'{ttotal[i]:.2f} s (x{ttotal[i] / ttotal[0]:.2f})' for i, s in enumerate(settings)) + '.\n')
print('All runs (seconds):\n')
for f in order:
    print(f'- {f}: ' + '; '.join(f'{name(s)} ' + ' '.join(f'{t:.3f}' for t in times[f, i])
                                for i, s in enumerate(settings)))
EOF
