#!/usr/bin/env bash
# `orvo convert` and `orvo pages` as a user drives them: BMP and TIFF round
# trips of the bundled samples and the corpus checked by ImageMagick and
# libtiff, refusals, and page editing.
#
#   bash convert.sh ORVO_BINARY CORPUS_DIR      (exit 77: skipped)
set -uo pipefail

orvo=$(readlink -f "${1:?usage: convert.sh ORVO_BINARY CORPUS_DIR}")
corpus=${2:-}
samples=$(readlink -f "$(dirname "$0")/../../samples")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
have() { command -v "$1" >/dev/null; }
pixels() { convert "$1" -depth 8 rgb:- 2>/dev/null | md5sum; }

# Round trips: IN -> OUT (options) -> back.bmp, same pixels as IN.
inputs=("$samples/gradient.bmp" "$samples/palette8.bmp")
if [ -d "$corpus/bmpsuite" ]; then
    inputs+=("$corpus/bmpsuite/g/pal1.bmp" "$corpus/bmpsuite/g/pal4.bmp" "$corpus/bmpsuite/g/pal8rle.bmp"
             "$corpus/bmpsuite/g/rgb32.bmp")
fi
for input in "${inputs[@]}"; do
    for options in "" "--compression packbits"; do
        name="$(basename "$input") ${options:-plain}"
        # shellcheck disable=SC2086
        "$orvo" convert "$input" out.tif $options 2>err || { fail "$name: convert to TIFF: $(cat err)"; continue; }
        if have tiffinfo; then
            tiffinfo -D out.tif >/dev/null 2>err
            [ -s err ] && fail "$name: tiffinfo -D warns: $(head -c 200 err)"
        fi
        if have tiffcp; then
            tiffcp -c none out.tif copy.tif 2>err || fail "$name: tiffcp failed"
            [ -s err ] && fail "$name: tiffcp warns: $(head -c 200 err)"
        fi
        "$orvo" convert out.tif back.bmp 2>err || { fail "$name: convert back: $(cat err)"; continue; }
        if have convert; then
            [ "$(pixels "$input")" = "$(pixels back.bmp)" ] || fail "$name: pixels differ after the round trip"
            [ "$(pixels "$input")" = "$(pixels out.tif)" ] || fail "$name: ImageMagick reads other pixels in the TIFF"
        fi
    done
done

# The corpus TIFFs this reader decodes, converted to BMP, look as libtiff decodes them.
if [ -d "$corpus/libtiff" ] && have convert; then
    for input in "$corpus/libtiff/rgb-3c-8b.tiff" "$corpus/libtiff/palette-1c-4b.tiff" \
                 "$corpus/libtiff/minisblack-1c-8b.tiff"; do
        "$orvo" convert "$input" out.bmp 2>err || { fail "$input: $(cat err)"; continue; }
        [ "$(convert "$input.ref."* -depth 8 rgb:- | md5sum)" = "$(pixels out.bmp)" ] ||
            fail "$(basename "$input"): converted pixels differ from the reference"
    done
fi

# Refusals: exit status, message, and no file left behind.
check() { # name status stderr-pattern args...
    local name=$1 status=$2 pattern=$3
    shift 3
    "$orvo" "$@" >/dev/null 2>err
    local got=$?
    [ "$got" = "$status" ] || fail "$name: exit $got, expected $status"
    grep -qE -- "$pattern" err || fail "$name: stderr lacks /$pattern/: $(head -c 200 err)"
}
check unknown-target 2 "format 'xyz'"        convert "$samples/gradient.bmp" out.x --to xyz
check no-extension   2 "use --to"            convert "$samples/gradient.bmp" out.x
check missing-folder 1 "status 25"           convert "$samples/gradient.bmp" no/such/dir/out.bmp
check sia-target     2 "no format"           convert "$samples/gradient.bmp" out.sia
check gif-no-lzw     1 "status 12"           convert "$samples/palette8.bmp" refused.gif
check bad-size       2 "size '10'"           convert "$samples/gradient.bmp" x.tif --size 10
check bad-pages      2 "pages '0:1'"         convert "$samples/gradient.bmp" x.tif --pages 0:1
[ -e refused.gif ] && fail "a refused conversion left refused.gif"

# Scaling into a canvas and changing the colour mode on the way.
"$orvo" convert "$samples/gradient.bmp" scaled.tif --size 30x20 --interpolation bilinear --color-mode gray ||
    fail "scaled conversion"
"$orvo" info scaled.tif | grep -q '^  image 1: 30 x 20' || fail "scaled.tif is not 30 x 20"
"$orvo" convert "$samples/gradient.bmp" dithered.bmp --color-mode bitmap --method pattern || fail "dithering"
"$orvo" info dithered.bmp | grep -q 'colour mode bitmap' || fail "dithered.bmp is not a bitmap"

# Page editing.
pages() { "$orvo" info "$1" | sed -n 's/.*, \([0-9]*\) images\{0,1\}$/\1/p'; }
"$orvo" pages book.tif append "$samples/gradient.bmp" || fail "append to a new file"
"$orvo" pages book.tif append "$samples/palette8.bmp" --compression packbits || fail "append"
[ "$(pages book.tif)" = 2 ] || fail "two pages expected, $(pages book.tif) found"
"$orvo" pages book.tif insert --at 1 "$samples/palette8.bmp" || fail "insert"
"$orvo" info book.tif | grep -q '^  image 1: 90 x 60' || fail "the inserted page is not first"
"$orvo" pages book.tif replace --at 3 "$samples/gradient.bmp" || fail "replace"
"$orvo" info book.tif | grep -q '^  image 3: 150 x 100' || fail "page 3 not replaced"
check delete-past-end 1 "status -100" pages book.tif delete --at 3 --count 2
"$orvo" pages book.tif delete --at 2 || fail "delete"
[ "$(pages book.tif)" = 2 ] || fail "two pages expected after delete"
have tiffinfo && { tiffinfo -D book.tif >/dev/null 2>err; [ -s err ] && fail "tiffinfo warns on the edited file"; }
"$orvo" pages book.tif delete --at 1 --count 2 || fail "delete all"
[ -e book.tif ] && fail "deleting every page should remove the file"
check insert-missing 1 "status 26" pages none.tif insert --at 1 "$samples/gradient.bmp"

[ "$failures" = 0 ] && echo "convert.sh: all passed"
exit $((failures > 0))
