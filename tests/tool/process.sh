#!/usr/bin/env bash
# `orvo process` as a user drives it: exact geometry checked against
# ImageMagick (quarter turns, mirrors, crops, nearest-neighbour doubling,
# negation), sizes and colour modes of the other operations checked with
# `orvo info`, and refused command lines.
#
#   bash process.sh ORVO_BINARY CORPUS_DIR      (exit 77: skipped)
set -uo pipefail

orvo=$(readlink -f "${1:?usage: process.sh ORVO_BINARY CORPUS_DIR}")
corpus=${2:-}
samples=$(readlink -f "$(dirname "$0")/../../samples")
[ -f "$samples/gradient.bmp" ] || { echo "process.sh: no samples in $samples"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && ln -s "$samples" s

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# ImageMagick itself, not a stand-in of the same name.
magick=0
convert -version 2>/dev/null | grep -q ImageMagick && magick=1
pixels() { convert "$1" -depth 8 rgb:- 2>/dev/null | md5sum; }
size() { "$orvo" info "$1" | sed -n 's/^  image 1: \([0-9]* x [0-9]*\), colour mode \([^(]*\) (.*/\1, \2/p' | sed 's/ *$//'; }

# name | orvo process arguments (IN OUT after the operation) | size, mode | ImageMagick operators or '-'
cases='
double-nearest | resize s/gradient.bmp out.bmp --size 300x200 --interpolation nearest | 300 x 200, RGB | -sample 300x200!
half-scale     | resize s/gradient.bmp out.bmp --scale 50%          | 75 x 50, RGB        | -
turn-90        | rotate s/gradient.bmp out.bmp                      | 100 x 150, RGB      | -rotate -90
turn-180       | rotate s/palette8.bmp out.bmp --angle 180          | 90 x 60, 256 colours| -rotate 180
turn-270       | rotate s/palette8.bmp out.bmp --angle -90          | 60 x 90, 256 colours| -rotate 90
turn-17        | rotate s/gradient.bmp out.bmp --angle 17           | 173 x 140, RGB      | -
mirror         | flip s/gradient.bmp out.bmp                        | 150 x 100, RGB      | -flop
mirror-palette | flip s/palette8.bmp out.bmp --direction vertical   | 90 x 60, 256 colours| -flip
crop           | crop s/gradient.bmp out.bmp --region 10,20,30,40   | 30 x 40, RGB        | -crop 30x40+10+20 +repage
crop-edge      | crop s/gradient.bmp out.bmp --region 140,90,100,100 | 10 x 10, RGB       | -crop 10x10+140+90 +repage
negate         | invert s/gradient.bmp out.bmp                      | 150 x 100, RGB      | -negate
skew           | skew s/palette8.bmp out.bmp --angle 45             | 150 x 60, 256 colours| -
to-tiff        | resize s/gradient.bmp out.tif --size 40x30 --compression packbits | 40 x 30, RGB | -
grey           | gray s/gradient.bmp out.bmp                        | 150 x 100, -        | -
two-colour     | bitmap s/gradient.bmp out.bmp --method pattern     | 150 x 100, bitmap   | -
palette        | indexed256 s/gradient.bmp out.bmp --quantization uniform | 150 x 100, 256 colours | -
full-colour    | rgb s/palette8.bmp out.bmp                         | 90 x 60, RGB        | -
'
trim() { local s=$1; s=${s#"${s%%[! ]*}"}; echo "${s%"${s##*[! ]}"}"; }
while IFS='|' read -r name args expect reference; do
    name=$(trim "$name"); [ -n "$name" ] || continue
    expect=$(trim "$expect"); reference=$(trim "$reference")
    read -r -a argv <<<"$args"
    rm -f out.bmp out.tif
    "$orvo" process "${argv[@]}" 2>err || { fail "$name: $(cat err)"; continue; }
    out=${argv[2]}
    got=$(size "$out")
    case $expect in
        *", -") [ "${got%,*}" = "${expect%,*}" ] || fail "$name: '$got', expected '$expect'" ;;
        *) [ "$got" = "$expect" ] || fail "$name: '$got', expected '$expect'" ;;
    esac
    if [ "$reference" != - ] && [ "$magick" = 1 ]; then
        read -r -a ops <<<"$reference"
        [ "$(convert "${argv[1]}" "${ops[@]}" -depth 8 rgb:- | md5sum)" = "$(pixels "$out")" ] ||
            fail "$name: pixels differ from ImageMagick's $reference"
    fi
done <<<"$cases"

# Standard output carries the same BMP as a file.
"$orvo" process flip s/palette8.bmp file.bmp && "$orvo" process flip s/palette8.bmp - >piped.bmp &&
    cmp -s file.bmp piped.bmp || fail "flip to standard output differs from flip to a file"

# Inverting twice, and mirroring twice, give the input back.
"$orvo" process invert s/palette8.bmp once.bmp && "$orvo" process invert once.bmp twice.bmp &&
    cmp -s s/palette8.bmp twice.bmp || fail "inverting twice changed the picture"

# Corpus bitmaps of 1 and 4 bits turn exactly as ImageMagick turns them.
if [ -d "$corpus/bmpsuite" ] && [ "$magick" = 1 ]; then
    for input in "$corpus/bmpsuite/g/pal1.bmp" "$corpus/bmpsuite/g/pal4.bmp"; do
        [ -f "$input" ] || continue
        "$orvo" process rotate "$input" out.bmp 2>err || { fail "$input: $(cat err)"; continue; }
        [ "$(convert "$input" -rotate -90 -depth 8 rgb:- | md5sum)" = "$(pixels out.bmp)" ] ||
            fail "$(basename "$input"): turned pixels differ from ImageMagick's"
    done
fi

# Refusals: exit status, message, and no file left behind.
check() { # name status stderr-pattern args...
    local name=$1 status=$2 pattern=$3
    shift 3
    "$orvo" process "$@" >/dev/null 2>err
    local got=$?
    [ "$got" = "$status" ] || fail "$name: exit $got, expected $status"
    grep -qE -- "$pattern" err || fail "$name: stderr lacks /$pattern/: $(head -c 200 err)"
}
check unknown-op     2 "unknown operation 'frob'"      frob s/gradient.bmp x.bmp
check no-size        2 "give --size"                   resize s/gradient.bmp x.bmp
check both-sizes     2 "not both"                      resize s/gradient.bmp x.bmp --size 2x2 --scale 50
check foreign-option 2 "'--angle' does not apply"      invert s/gradient.bmp x.bmp --angle 3
check bad-level      2 "brightness '101'"              brightness-contrast s/gradient.bmp x.bmp --brightness 101
check warp-kernel    2 "nearest or bilinear"           rotate s/gradient.bmp x.bmp --angle 10 --interpolation cubic
check crop-outside   2 "outside the 150 x 100 image"  crop s/gradient.bmp x.bmp --region 150,0,5,5
check no-format      2 "no format for 'x.xyz'"         gray s/gradient.bmp x.xyz
check one-file       2 "one input and one output"      gray s/gradient.bmp
check missing-input  1 "status 25"                     gray s/missing.bmp x.bmp
check grey-of-grey   1 "of the greyscale image failed: status -100" gray s/palette8.bmp x.bmp --mode gray
check no-folder      1 "status 25"                     gray s/gradient.bmp no/such/x.bmp
[ -e x.bmp ] && fail "a refused operation left x.bmp"
"$orvo" process --help | grep -q '^  hue-saturation ' || fail "process --help does not list hue-saturation"
"$orvo" process resize --help | grep -q -- '--interpolation' || fail "resize --help lacks --interpolation"

[ "$failures" = 0 ] && echo "process.sh: all passed"
exit $((failures > 0))
