#!/usr/bin/env bash
# gridpack against the floor program and the general image tools, on the corpus of
# bench/corpus.sh, each tool at its defaults. For every image: wall time (median of RUNS timed
# rounds), peak RSS and output bytes of gridpack, the floor (libpng writing the PNG type that
# gridpack chose, straight from memory), ImageMagick `convert`, GraphicsMagick `gm convert`,
# `vips copy` and Pillow; printed as markdown tables with the ratios gridpack/floor and
# gridpack/fastest peer, and whether a peer dominates gridpack. The 4-megapixel photo gets two
# more rows: Adam7 interlacing (each tool's own switch for it: -interlace, -interlace PNG,
# -interlace Line, [interlace]; Pillow has none) and the image piped in on standard input.
#
#   bench/compare.sh [corpus-dir] [build-dir]
#
# Without a corpus folder, one is made with bench/corpus.sh in a temporary folder and removed at
# the end. build-dir defaults to build-release (a Release build with the floor program). RUNS
# (default 3) sets the timed rounds; PYTHON (default /usr/bin/python3, the one python3-pil is
# installed for) runs Pillow and the table. CHART (default bench/compare.png; empty for none)
# names the chart of time against output size that compare_chart.py draws with matplotlib
# (python3-matplotlib), one point per image and tool; its data go beside it, as .tsv.
#
# Method: one untimed round first (it warms the page cache and makes the outputs that are
# checked: every output must decode with Pillow, and ImageMagick's `compare -metric AE` counts
# the pixels that differ from the input). Then RUNS rounds, each running every tool once in
# turn, so that a change of load on the shared machine hits all tools alike. A run is timed with
# bash's EPOCHREALTIME around `/usr/bin/time -f %M sh -c CMD` (which also gives the peak RSS of
# the largest process of the command); the median cost of that wrapper around `true` is
# subtracted. A peer "dominates" gridpack when its slowest run is faster than gridpack's
# fastest run (faster beyond the noise of this run), its output is no larger, and its pixels
# equal the input's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=${1:-}
build=${2:-$here/../build-release}
runs=${RUNS:-3}
py=${PYTHON:-/usr/bin/python3}
chart=${CHART-$here/compare.png}

for tool in "$build/gridpack" "$build/bench/floor"; do
  [ -x "$tool" ] || { echo "missing $tool: build with -DCMAKE_BUILD_TYPE=Release" >&2; exit 1; }
done
for tool in convert gm vips compare /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool: see bench/README.md for the peers' install line" >&2; exit 1; }
done
"$py" -c 'import PIL' 2>/dev/null || { echo "missing Pillow for $py (python3-pil)" >&2; exit 1; }
if [ -n "$chart" ] && ! "$py" -c 'import matplotlib' 2>/dev/null; then
  echo "missing matplotlib for $py (python3-matplotlib): no chart; CHART= runs without one" >&2
  exit 1
fi
# ImageMagick's own programs from its package, not whatever else may come first in PATH.
im_convert=/usr/bin/convert
[ -x "$im_convert" ] || im_convert=$(command -v convert)
im_compare=/usr/bin/compare
[ -x "$im_compare" ] || im_compare=$(command -v compare)
gp=$(cd "$(dirname "$build/gridpack")" && pwd)/gridpack
floor=$(cd "$build/bench" && pwd)/floor

work=$(mktemp -d "${TMPDIR:-/tmp}/gridpack-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$corpus" ]; then
  corpus=$work/corpus
  "$here/corpus.sh" "$corpus" >&2
fi
corpus=$(cd "$corpus" && pwd)
[ -f "$corpus/MANIFEST" ] || { echo "no MANIFEST in $corpus: make the corpus with bench/corpus.sh" >&2; exit 1; }
mkdir -p "$work/out"

tools=(gridpack floor convert gm vips pillow)
q() { printf '%q' "$1"; }
pil_file='import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])'
pil_pipe='import sys; from PIL import Image; Image.open(sys.stdin.buffer).save(sys.argv[1])'

# The command of tool $1 on case input $2 with variant $3 ("", interlace or pipe), writing $4.
# Sets $cmd; empty when the tool has no such mode.
command_for() {
  local tool=$1 in=$2 variant=$3 out=$4 i o
  i=$(q "$in")
  o=$(q "$out")
  cmd=
  case $tool/$variant in
    gridpack/) cmd="$(q "$gp") $i >$o" ;;
    gridpack/interlace) cmd="$(q "$gp") -interlace $i >$o" ;;
    gridpack/pipe) cmd="cat $i | $(q "$gp") >$o" ;;
    floor/) cmd="$(q "$floor") $floor_args $i $o" ;;
    floor/interlace) cmd="$(q "$floor") -interlace $floor_args $i $o" ;;
    floor/pipe) cmd="cat $i | $(q "$floor") $floor_args - $o" ;;
    convert/) cmd="$im_convert $i $o" ;;
    convert/interlace) cmd="$im_convert $i -interlace PNG $o" ;;
    convert/pipe) cmd="cat $i | $im_convert - $o" ;;
    gm/) cmd="gm convert $i $o" ;;
    gm/interlace) cmd="gm convert -interlace Line $i $o" ;;
    gm/pipe) cmd="cat $i | gm convert - $o" ;;
    vips/) cmd="vips copy $i $o" ;;
    vips/interlace) cmd="vips copy $i $(q "${out}[interlace]")" ;;
    vips/pipe) cmd="cat $i | vips copy stdin $o" ;;
    pillow/) cmd="$(q "$py") -c $(q "$pil_file") $i $o" ;;
    pillow/pipe) cmd="cat $i | $(q "$py") -c $(q "$pil_pipe") $o" ;;
  esac
}

# Runs command $1 once; appends "microseconds peakKB" to $2.
timed() {
  local t0 t1
  t0=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/rss" sh -c "$1" 2>>"$work/stderr" || {
    echo "failed: $1" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  t1=$EPOCHREALTIME
  echo "$((${t1/./} - ${t0/./})) $(tail -n 1 "$work/rss")" >>"$2"
}

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
# The wrapper's own cost.
for _ in $(seq 11); do timed true "$work/overhead"; done

cases=()
while IFS=$'\t' read -r file desc; do
  cases+=("$file||$desc")
  if [ "$file" = photo4-rgb.ppm ]; then
    cases+=("$file|interlace|$desc, -interlace")
    cases+=("$file|pipe|$desc, piped: cat f | tool")
  fi
done <"$corpus/MANIFEST"

: >"$work/meta"
: >"$work/runs"
for c in "${cases[@]}"; do
  IFS='|' read -r file variant desc <<<"$c"
  in=$corpus/$file
  name=$file${variant:+ ($variant)}
  echo "== $name" >&2
  # gridpack first: the floor writes the colour type and depth that gridpack chose.
  command_for gridpack "$in" "$variant" "$work/out/gridpack.png"
  sh -c "$cmd"
  read -r depth ctype interl < <(od -An -tu1 -j24 -N5 "$work/out/gridpack.png" | awk '{print $1, $2, $5}')
  magic=$(head -c 2 "$in")
  case $ctype in
    0) kind=gray; { [ "$magic" = P4 ] || [ "$magic" = P1 ]; } && kind=bilevel ;;
    2) kind=rgb ;;
    3) kind=palette ;;
    *) echo "unexpected colour type $ctype for $file" >&2; exit 1 ;;
  esac
  floor_args="$kind $depth"
  pngtype="$kind $depth"
  [ "$interl" = 1 ] && pngtype="$pngtype Adam7"
  # Untimed round: outputs to check. A peer that fails here is reported, not timed.
  declare -A failed=()
  for t in "${tools[@]}"; do
    command_for "$t" "$in" "$variant" "$work/out/$t.png"
    [ -n "$cmd" ] || continue
    if [ "$t" != gridpack ] && ! sh -c "$cmd" 2>"$work/err"; then
      [ "$t" != floor ] || { cat "$work/err" >&2; exit 1; }
      failed[$t]=1
      printf '%s\t%s\t0\tfails: %s\t-\t%s\t%s\n' "$name" "$t" "$(tail -n 1 "$work/err" | cut -c1-120)" \
        "$pngtype" "$desc" >>"$work/meta"
      continue
    fi
    "$py" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).load()' "$work/out/$t.png" \
      || { echo "$t output of $name does not decode" >&2; exit 1; }
    ae=$("$im_compare" -metric AE "$in" "$work/out/$t.png" null: 2>&1 || true)
    bytes=$(stat -c %s "$work/out/$t.png")
    ihdr=$(od -An -tu1 -j24 -N2 "$work/out/$t.png" | awk '{print $1 "/" $2}')
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$t" "$bytes" "$ae" "$ihdr" "$pngtype" "$desc" >>"$work/meta"
  done
  for r in $(seq "$runs"); do
    for t in "${tools[@]}"; do
      command_for "$t" "$in" "$variant" "$work/out/$t.png"
      [ -n "$cmd" ] && [ -z "${failed[$t]:-}" ] || continue
      : >"$work/one"
      timed "$cmd" "$work/one"
      printf '%s\t%s\t%s\t%s\n' "$name" "$t" "$r" "$(cat "$work/one")" >>"$work/runs"
    done
  done
  rm -f "$work/out/"*
done

load_end=$(cut -d' ' -f1-3 /proc/loadavg)
"$py" - "$work/overhead" "$work/meta" "$work/runs" "$load_start" "$load_end" "$work/chart.tsv" <<'EOF'
import statistics, sys
from collections import defaultdict

overhead = statistics.median(int(l.split()[0]) for l in open(sys.argv[1])) / 1e6
meta, order, desc, pngtype, failures = {}, [], {}, {}, []
for line in open(sys.argv[2]):
    name, tool, size, ae, ihdr, ptype, d = line.rstrip('\n').split('\t')
    meta[name, tool] = (int(size), ae.strip(), ihdr)
    if ae.startswith('fails'):
        failures.append((name, tool, ae))
    if name not in desc:
        order.append(name)
        desc[name], pngtype[name] = d, ptype
times, rss = defaultdict(list), defaultdict(int)
for line in open(sys.argv[3]):
    name, tool, _, rest = line.rstrip('\n').split('\t')
    us, kb = rest.split()
    times[name, tool].append(max(int(us) / 1e6 - overhead, 0.0))
    rss[name, tool] = max(rss[name, tool], int(kb))

tools = ['gridpack', 'floor', 'convert', 'gm', 'vips', 'pillow']
peers = tools[2:]
label = {'gridpack': 'gridpack', 'floor': 'floor', 'convert': 'ImageMagick', 'gm': 'GraphicsMagick',
         'vips': 'libvips', 'pillow': 'Pillow'}
med = lambda n, t: statistics.median(times[n, t])
exact = lambda n, t: meta[n, t][1] in ('0', '0 (0)')

print(f'Wall time in seconds, median of {len(times[order[0], "gridpack"])} runs (wrapper cost of '
      f'{overhead * 1000:.1f} ms subtracted); noise = (slowest - fastest) / median of gridpack\'s runs. '
      f'Load average (1, 5, 15 min) at the start: {sys.argv[4]}; at the end: {sys.argv[5]}.\n')
print('| image | gridpack writes | gridpack | floor | gridpack/floor | ImageMagick | GraphicsMagick '
      '| libvips | Pillow | gridpack/fastest peer | noise | dominated by |')
print('|---|---|---|---|---|---|---|---|---|---|---|---|')
for n in order:
    g = med(n, 'gridpack')
    cells = []
    for t in tools:
        failed = (n, t) in meta and meta[n, t][1].startswith('fails')
        cells.append(f'{med(n, t):.3f}' if times[n, t] else 'fails' if failed else '—')
    present = [p for p in peers if times[n, p]]
    fastest = min(present, key=lambda p: med(n, p))
    gt = times[n, 'gridpack']
    noise = (max(gt) - min(gt)) / g
    dom = [label[p] for p in present
           if max(times[n, p]) < min(gt) and meta[n, p][0] <= meta[n, 'gridpack'][0] and exact(n, p)]
    print(f'| {n} | {pngtype[n]} | ' + ' | '.join(cells[:2]) + f' | {g / med(n, "floor"):.3f} | '
          + ' | '.join(cells[2:]) + f' | {g / med(n, fastest):.2f} ({label[fastest]}) | {noise:.1%} | '
          + (', '.join(dom) or 'none') + ' |')

print('\nOutput bytes (* = pixels differ from the input: ImageMagick AE count in the note below).\n')
print('| image | gridpack | floor | ImageMagick | GraphicsMagick | libvips | Pillow |')
print('|---|---|---|---|---|---|---|')
notes = []
for n in order:
    cells = []
    for t in tools:
        if (n, t) not in meta:
            cells.append('—')
            continue
        size, ae, ihdr = meta[n, t]
        if ae.startswith('fails'):
            cells.append('fails')
            continue
        mark = '' if exact(n, t) else '*'
        if mark:
            notes.append(f'{n}, {label[t]}: AE {ae}, written as depth/colour type {ihdr}')
        cells.append(f'{size:,}{mark}')
    print(f'| {n} | ' + ' | '.join(cells) + ' |')
for note in notes:
    print(f'- {note}')
for name, tool, what in failures:
    print(f'- {name}, {label[tool]}: {what}')

print('\nPeak RSS in MB (largest process of the command, from /usr/bin/time).\n')
print('| image | gridpack | floor | ImageMagick | GraphicsMagick | libvips | Pillow |')
print('|---|---|---|---|---|---|---|')
for n in order:
    print(f'| {n} | ' + ' | '.join(f'{rss[n, t] / 1024:.1f}' if rss[n, t] else '—' for t in tools) + ' |')

with open(sys.argv[6], 'w') as chart:
    for n in order:
        for t in tools:
            if times[n, t]:
                chart.write(f'{n}\t{t}\t{med(n, t):.4f}\t{meta[n, t][0]}\t{int(exact(n, t))}\n')

print('\nAll runs (seconds):\n')
for n in order:
    print(f'- {n}: ' + '; '.join(f'{t} ' + ' '.join(f'{s:.3f}' for s in times[n, t])
                                for t in tools if times[n, t]))
EOF
if [ -n "$chart" ]; then
  cp "$work/chart.tsv" "${chart%.png}.tsv"
  "$py" "$here/compare_chart.py" "$work/chart.tsv" "$chart" \
    "median of $runs alternating runs on a $(nproc)-core machine; load average $load_start at the start, $load_end at the end"
  echo "chart: $chart" >&2
fi
