#!/usr/bin/env bash
# A folder of many images converted one gridpack process per image, each writing NAME.png
# beside NAME.pbm/.pgm/.ppm: images per second for a sequential shell loop, xargs -P and GNU
# parallel, and the peak RSS of every gridpack process. Printed as markdown.
#
#   bench/many.sh [corpus-dir] [build-dir]
#
# corpus-dir is a folder made by bench/corpus.sh (it needs the unpacked package under src/);
# without one, a corpus is made in a temporary folder. build-dir defaults to build-release.
# ROUNDS (default 3) sets the timed rounds. MANY names the folder of images: reused when it
# already holds them, else made there (default: a temporary folder, removed at the end).
#
# The folder (made with ImageMagick's convert from the corpus, as corpus.sh makes its images):
#   - the corpus's own images (two of 20 megapixels, the rest 1 to 4 megapixels, two plain);
#   - every wallpaper of the package at its own size (1440x900 to 5640x3172), as a raw PPM, or a
#     raw PGM when ImageMagick finds it gray; the ten with transparency are put on a dark blue
#     (the gray one on a dark gray) background, as a desktop shows them (without it, five of them
#     are one flat colour);
#   - from each of the package's JPEG photos: the 1024x768 centre as a PPM, the photo reduced to
#     640 pixels wide in gray as a PGM, and reduced to 1600 pixels wide and dithered to black and
#     white as a PBM.
#
# Method: one untimed pass first, a loop running every image under /usr/bin/time -f %M (it warms
# the page cache and gives each process's peak RSS). Then ROUNDS rounds, each running every
# method once in turn after deleting the PNGs, so that load from other work on the shared
# machine falls on all methods alike; a method is timed as a whole with bash's EPOCHREALTIME,
# and must leave one PNG per image; the table gives the median and the fastest of each method's
# rounds (on a machine shared with other work the fastest is the nearest to having it alone).
# The commands are run by bash in the folder, with gridpack's build folder first in PATH,
# exactly as printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=${1:-}
build=${2:-$here/../build-release}
rounds=${ROUNDS:-3}

[ -x "$build/gridpack" ] || { echo "missing $build/gridpack: build with -DCMAKE_BUILD_TYPE=Release" >&2; exit 1; }
bindir=$(cd "$build" && pwd)
for tool in /usr/bin/time xargs parallel; do
  command -v "$tool" >/dev/null || { echo "missing $tool: see bench/README.md" >&2; exit 1; }
done
# ImageMagick's own convert and identify, not whatever else may come first in PATH.
im=/usr/bin/convert
[ -x "$im" ] || im=$(command -v convert)

work=$(mktemp -d "${TMPDIR:-/tmp}/gridpack-many.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$corpus" ]; then
  corpus=$work/corpus
  "$here/corpus.sh" "$corpus" >&2
fi
corpus=$(cd "$corpus" && pwd)
pkg=$corpus/src/pkg/usr/share/backgrounds/mate
if [ ! -f "$corpus/MANIFEST" ] || [ ! -d "$pkg" ]; then
  echo "$corpus is not a folder made by bench/corpus.sh" >&2
  exit 1
fi

dir=${MANY:-$work/many}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if ! ls "$dir"/*.p[bgp]m >/dev/null 2>&1; then
  echo "making the images in $dir" >&2
  while IFS=$'\t' read -r file _; do cp "$corpus/$file" "$dir/"; done <"$corpus/MANIFEST"
  while read -r src; do
    base=$(basename "${src%.*}")
    if [ "$(/usr/bin/identify -format '%[colorspace]' "$src")" = Gray ]; then
      "$im" "$src" -strip -background '#404040' -alpha remove -alpha off -colorspace Gray -depth 8 "pgm:$dir/wp-$base.pgm"
    else
      "$im" "$src" -strip -background '#2d4a6b' -alpha remove -alpha off -depth 8 "ppm:$dir/wp-$base.ppm"
    fi
  done < <(find "$pkg" -type f \( -name '*.jpg' -o -name '*.png' \) | sort)
  while read -r src; do
    base=$(basename "${src%.*}")
    "$im" "$src" -strip -gravity center -crop 1024x768+0+0 +repage -depth 8 "ppm:$dir/crop-$base.ppm"
    "$im" "$src" -strip -resize 640x -colorspace Gray -depth 8 "pgm:$dir/thumb-$base.pgm"
    "$im" "$src" -strip -resize 1600x -colorspace Gray -monochrome "pbm:$dir/bw-$base.pbm"
  done < <(find "$pkg" -type f -name '*.jpg' | sort)
fi
cd "$dir"
rm -f ./*.png
shopt -s nullglob
images=(*.p[bgp]m)
n=${#images[@]}
[ "$n" -gt 0 ] || { echo "no images in $dir" >&2; exit 1; }
cores=$(nproc)

# The methods, as one would type them in the folder. xargs and parallel take the names from
# find, which has no limit on their number (they come in the folder's order, not sorted, which
# here puts two of the three largest images among the last 20).
names=()
cmds=()
add() { names+=("$1"); cmds+=("$2"); }
list="find . -maxdepth 1 -name '*.p[bgp]m' -print0"
each="sh -c 'gridpack -quiet \"\$1\" > \"\${1%.*}.png\"' sh"
# shellcheck disable=SC2016 # expanded by the bash that runs the command, not here
add "shell loop" 'for f in *.p[bgp]m; do gridpack -quiet "$f" > "${f%.*}.png"; done'
add "xargs -P \$(nproc), here $cores" "$list | xargs -0 -n 1 -P \"\$(nproc)\" $each"
[ "$cores" -eq 2 ] || add "xargs -P 2" "$list | xargs -0 -n 1 -P 2 $each"
# The same, biggest files first, so that no long conversion starts when the rest are done.
bysize="find . -maxdepth 1 -name '*.p[bgp]m' -printf '%s\\t%p\\0' | sort -z -rn | cut -z -f2-"
add "xargs -P \$(nproc), largest first" "$bysize | xargs -0 -n 1 -P \"\$(nproc)\" $each"
add "xargs -P $((2 * cores)) (2 x nproc)" "$list | xargs -0 -n 1 -P $((2 * cores)) $each"
add "GNU parallel (one job per core)" "$list | parallel -0 gridpack -quiet {} '>' {.}.png"
add "GNU parallel, largest first" "$bysize | parallel -0 gridpack -quiet {} '>' {.}.png"

export PATH="$bindir:$PATH"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
# Untimed pass: page cache, and each process's peak RSS.
: >"$work/rss"
for f in "${images[@]}"; do
  /usr/bin/time -f "%M $f" -a -o "$work/rss" gridpack -quiet "$f" >"${f%.*}.png"
done
bytes_in=$(cat "${images[@]}" | wc -c)
bytes_out=$(cat ./*.png | wc -c)
pixels=0
for f in "${images[@]}"; do
  read -r w h < <(od -An -tu1 -j16 -N8 "${f%.*}.png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  pixels=$((pixels + w * h))
done

: >"$work/times"
for _ in $(seq "$rounds"); do
  for i in "${!cmds[@]}"; do
    rm -f ./*.png
    t0=$EPOCHREALTIME
    bash -c "${cmds[$i]}" || { echo "failed: ${cmds[$i]}" >&2; exit 1; }
    t1=$EPOCHREALTIME
    made=(*.png)
    [ "${#made[@]}" -eq "$n" ] || { echo "${names[$i]}: ${#made[@]} PNGs for $n images" >&2; exit 1; }
    echo "$i $((${t1/./} - ${t0/./}))" >>"$work/times"
  done
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)
rm -f ./*.png

counts=$(for f in "${images[@]}"; do head -c 2 "$f"; echo; done | sort | uniq -c | awk '{printf "%s%d %s", (NR > 1 ? ", " : ""), $1, $2}')
echo "$n images ($counts), $(awk -v b="$bytes_in" 'BEGIN {printf "%.0f", b / 1e6}') MB of anymaps," \
  "$(awk -v p="$pixels" 'BEGIN {printf "%.0f", p / 1e6}') megapixels, $(awk -v b="$bytes_out" 'BEGIN {printf "%.0f", b / 1e6}') MB of PNG;" \
  "nproc $cores; $rounds alternating rounds. Load average (1, 5, 15 min) at the start: $load_start; at the end: $load_end."
echo
echo "| method | median s | fastest s | images/s (median) | images/s (fastest) | megapixels/s (median) | speed-up (median) | speed-up (fastest) | all runs (s) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---|"
base=
for i in "${!cmds[@]}"; do
  all=$(awk -v i="$i" '$1 == i {printf "%s%.2f", s, $2 / 1e6; s = " "}' "$work/times")
  sorted=$(awk -v i="$i" '$1 == i {print $2 / 1e6}' "$work/times" | sort -g)
  med=$(awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}' <<<"$sorted")
  best=$(head -n 1 <<<"$sorted")
  base=${base:-$med}
  basebest=${basebest:-$best}
  awk -v name="${names[$i]}" -v m="$med" -v f="$best" -v n="$n" -v p="$pixels" -v b="$base" -v bb="$basebest" -v all="$all" \
    'BEGIN {printf "| %s | %.2f | %.2f | %.2f | %.2f | %.1f | %.2f | %.2f | %s |\n", name, m, f, n / m, n / f, p / 1e6 / m, b / m, bb / f, all}'
done
echo
echo "Commands, run by bash in the image folder:"
echo
for i in "${!cmds[@]}"; do echo "    ${cmds[$i]}"; done
echo
largest=$(stat -c '%s %n' "${images[@]}" | sort -rn | head -n 1 | cut -d' ' -f2-)
awk -v f="$largest" -v size="$(stat -c %s "$largest")" \
  '$2 == f {printf "Peak RSS of gridpack on the largest file, %s (%.1f MB): %.1f MB.\n", f, size / 1e6, $1 / 1024}' "$work/rss"
sort -n "$work/rss" | awk -v n="$n" '
  {kb[NR] = $1; f[NR] = $2}
  END {printf "Peak RSS per gridpack process (/usr/bin/time -f %%M): %.1f MB at most (%s), median %.1f MB, least %.1f MB, over the %d images.\n",
               kb[NR] / 1024, f[NR], kb[int((NR + 1) / 2)] / 1024, kb[1] / 1024, n}'
