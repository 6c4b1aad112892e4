#!/usr/bin/env bash
# Builds the benchmark corpus of bench/compare.sh from real photographs shipped in a Debian
# package: the package is fetched with `apt-get download` (no installation, nothing written
# outside the corpus folder) and unpacked with `dpkg-deb -x`; ImageMagick's `convert` makes the
# anymaps. The corpus is about 260 MB (170 MB of anymaps, the rest the package and its unpacked
# files, kept in src/) and is never committed.
#
#   bench/corpus.sh [dir]     (default: a new folder made by mktemp -d; its path is printed last)
#
# Needs: apt-get (with package lists, i.e. after `apt-get update`), dpkg-deb, ImageMagick.
# Writes dir/MANIFEST: one line per image, "file<TAB>description", in the order of the table.
set -euo pipefail

for tool in apt-get dpkg-deb convert identify; do
  command -v "$tool" >/dev/null || { echo "corpus.sh: $tool is needed (see bench/README.md)" >&2; exit 1; }
done
dir=${1:-$(mktemp -d "${TMPDIR:-/tmp}/gridpack-corpus.XXXXXX")}
mkdir -p "$dir/src"
dir=$(cd "$dir" && pwd)
cd "$dir/src"

# The photographs: a 5640x3172 photographed painting, canvas texture and noise included (the
# largest real photo found in the Debian wallpaper packages, none of which ships one of 20
# megapixels), and a 2560x1600 camera photo (a macro shot of dandelion seeds).
package=mate-backgrounds
if ! ls ${package}_*.deb >/dev/null 2>&1; then
  apt-get download "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
fi
ls ${package}_*.deb >/dev/null 2>&1 || { echo "corpus.sh: apt-get download $package failed (run apt-get update?)" >&2; exit 1; }
[ -d pkg ] || dpkg-deb -x ${package}_*.deb pkg
big=$PWD/pkg/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg
small=$PWD/pkg/usr/share/backgrounds/mate/nature/TwoWings.jpg
[ -f "$big" ] && [ -f "$small" ] || { echo "corpus.sh: $package no longer ships the expected photos" >&2; exit 1; }

# Text rendering for the screenshot-like image needs a TrueType font: the system's DejaVu if it
# is there, else the one fetched (not installed) the same way.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
if [ ! -f "$font" ] || [ ! -f "$mono" ]; then
  ls fonts-dejavu-core_*.deb >/dev/null 2>&1 \
    || apt-get download fonts-dejavu-core 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
  [ -d fonts ] || dpkg-deb -x fonts-dejavu-core_*.deb fonts
  font=$PWD/fonts/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
  mono=$PWD/fonts/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
fi

cd "$dir"
manifest=()
add() { manifest+=("$1	$2"); }
im() { convert "$@"; } # every output is written with -strip: no comment lines in the headers

# 8-bit RGB, >= 20 megapixels: the 17.9-megapixel photo upscaled by 6.4 % (6000 x 3374).
im "$big" -strip -resize 6000x -depth 8 ppm:photo20-rgb.ppm
add photo20-rgb.ppm "P6 8-bit photo, 6000x3374 (20.2 MP, upscaled 6.4 % from 5640x3172)"
# The ~4-megapixel photo at its own size, and derived from it.
im "$small" -strip -depth 8 ppm:photo4-rgb.ppm
add photo4-rgb.ppm "P6 8-bit photo, 2560x1600 (4.1 MP)"
im "$small" -strip -colorspace Gray -depth 8 pgm:photo4-gray.pgm
add photo4-gray.pgm "P5 8-bit gray photo, 2560x1600"
im photo4-gray.pgm -strip -depth 8 ppm:photo4-grayrgb.ppm
add photo4-grayrgb.ppm "P6 8-bit all-gray photo, 2560x1600"
im "$small" -strip -colors 200 -depth 8 ppm:photo4-q200.ppm
add photo4-q200.ppm "P6 photo quantised to <= 200 colours (dithered), 2560x1600"
im photo4-gray.pgm -strip -auto-level +dither -posterize 16 -depth 8 pgm:photo4-gray16lv.pgm
add photo4-gray16lv.pgm "P5 photo stretched and posterised to 16 gray levels, 2560x1600"
# Bilevel, >= 20 megapixels: the big photo dithered to black and white.
im photo20-rgb.ppm -strip -colorspace Gray -monochrome pbm:bilevel20.pbm
add bilevel20.pbm "P4 dithered photo, 6000x3374 (20.2 MP)"
# 16 bits: the big photo reduced to ~4 megapixels in ImageMagick's 16-bit pipeline, so the low
# bytes carry the averaging; and the 8-bit photo widened, whose samples are 257 x v.
im "$big" -strip -resize 2667x -depth 16 ppm:photo-rgb16.ppm
add photo-rgb16.ppm "P6 16-bit (maxval 65535) photo, downscaled in 16 bits, 2667x1500 (4.0 MP)"
im "$small" -strip -depth 16 ppm:photo4-rgb16x257.ppm
add photo4-rgb16x257.ppm "P6 maxval 65535, every sample 257 x v, 2560x1600"
# Plain (text) formats, ~1 megapixel.
im "$small" -strip -resize 1280x -colorspace Gray -depth 8 -compress none pgm:plain-gray.pgm
add plain-gray.pgm "P2 plain gray photo, 1280x800 (1.0 MP)"
im "$small" -strip -resize 1280x -depth 8 -compress none ppm:plain-rgb.ppm
add plain-rgb.ppm "P3 plain colour photo, 1280x800 (1.0 MP)"

# Screenshot-like: a desktop gradient, two windows with title-bar gradients, anti-aliased text
# in several colours and sizes, a code listing, a toolbar of coloured buttons.
code=$(
  for i in $(seq 1 34); do
    printf '%02d  if (row[x].b != previous) { hash = (hash * 31 + row[x].b) & mask; ++count; }\n' "$i"
  done
)
prose=$(
  for i in $(seq 1 22); do
    printf 'Line %d: the quick brown fox jumps over the lazy dog, 0123456789 (%d%%) -> done.\n' "$i" $((i * 4))
  done
)
convert -size 1920x1080 gradient:'#1d3557'-'#6a4c93' \
  \( -size 1000x760 xc:'#fafafa' \) -geometry +80+70 -composite \
  \( -size 36x1000 gradient:'#5c6bc0'-'#283593' -rotate -90 \) -geometry +80+70 -composite \
  \( -size 760x820 xc:'#1e1e1e' \) -geometry +1100+180 -composite \
  \( -size 760x30 gradient:'#444444'-'#2a2a2a' \) -geometry +1100+180 -composite \
  -font "$font" -pointsize 17 -fill white -annotate +96+95 'Settings - Display and Appearance' \
  -fill '#1a1a1a' -pointsize 15 -annotate +100+140 "$prose" \
  -fill '#c62828' -pointsize 28 -annotate +100+700 'Warning: unsaved changes' \
  -fill '#2e7d32' -pointsize 22 -annotate +100+760 'Saved 12 files, 3.4 MB in 0.21 s' \
  -fill '#e91e63' -draw 'roundrectangle 700,690 800,730 8,8' \
  -fill '#03a9f4' -draw 'roundrectangle 820,690 920,730 8,8' \
  -fill '#ffc107' -draw 'roundrectangle 940,690 1040,730 8,8' \
  -fill white -pointsize 16 -annotate +722+717 'Cancel' -annotate +850+717 'Apply' -annotate +975+717 'OK' \
  -font "$mono" -pointsize 13 -fill '#dcdcaa' -annotate +1110+200 'editor.cpp' \
  -fill '#9cdcfe' -annotate +1110+230 "$code" \
  -fill '#ce9178' -draw 'circle 60,1040 75,1040' -fill '#4ec9b0' -draw 'circle 110,1040 125,1040' \
  -strip -depth 8 ppm:screenshot.ppm
add screenshot.ppm "P6 screenshot-like (gradients, anti-aliased text), 1920x1080"

# Checks that the derived images are what their descriptions say.
colours() { identify -format '%k' "$1"; }
[ "$(colours photo4-q200.ppm)" -le 200 ] || { echo "corpus.sh: quantised image has too many colours" >&2; exit 1; }
[ "$(colours photo4-gray16lv.pgm)" -eq 16 ] || { echo "corpus.sh: posterised image lacks 16 levels" >&2; exit 1; }
[ "$(colours screenshot.ppm)" -gt 256 ] || { echo "corpus.sh: screenshot has <= 256 colours" >&2; exit 1; }
for f in photo4-grayrgb.ppm photo20-rgb.ppm photo-rgb16.ppm photo4-rgb16x257.ppm screenshot.ppm; do
  [ "$(head -c 2 "$f")" = P6 ] || { echo "corpus.sh: $f is not a raw PPM" >&2; exit 1; }
done
# 16-bit content: the share of samples whose low byte differs from the high byte.
lowbytes() {
  /usr/bin/python3 - "$1" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
# header: magic, width, height, maxval, one whitespace byte; no comments (written with -strip)
fields, at = [], 2
while len(fields) < 3:
    while d[at] in b' \t\r\n': at += 1
    start = at
    while d[at] in b'0123456789': at += 1
    fields.append(int(d[start:at]))
r = d[at + 1:]
hi, lo = r[0::2], r[1::2]
print(sum(a != b for a, b in zip(hi[:3000000], lo[:3000000])) / min(len(hi), 3000000))
EOF
}
share=$(lowbytes photo-rgb16.ppm)
awk -v s="$share" 'BEGIN {exit !(s > 0.5)}' || { echo "corpus.sh: photo-rgb16.ppm has no real 16-bit content ($share)" >&2; exit 1; }
share=$(lowbytes photo4-rgb16x257.ppm)
awk -v s="$share" 'BEGIN {exit !(s == 0)}' || { echo "corpus.sh: photo4-rgb16x257.ppm is not 257 x v ($share)" >&2; exit 1; }

printf '%s\n' "${manifest[@]}" >MANIFEST
echo "corpus in $dir:"
for line in "${manifest[@]}"; do
  f=${line%%	*}
  printf '  %-22s %10d bytes  %s colours  %s\n' "$f" "$(stat -c %s "$f")" "$(colours "$f")" "${line#*	}"
done
echo "$dir"
