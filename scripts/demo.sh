#!/usr/bin/env bash
# demo.sh - the main job on the bundled samples: install what is missing,
# build the release `orvo` command and library, then for each sample inquire
# it, decode it to a new BMP file, convert it to a PackBits TIFF and back,
# process it (half size, a 17 degree turn, 16 dithered colours) and inquire
# the results.
#
#   ./scripts/demo.sh [SAMPLE...]   sample names in samples/ (default: gradient palette8)
#
# The files written are left in a fresh temporary directory, named at the end.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

bash scripts/setup.sh
cmake --preset release
cmake --build --preset release --target orvocore orvo

orvo=build/release/orvo
out=$(mktemp -d "${TMPDIR:-/tmp}/orvo-demo.XXXXXX")
[ $# -gt 0 ] || set -- gradient palette8

for sample in "$@"; do
    in=samples/${sample%.bmp}.bmp
    [ -f "$in" ] || { echo "demo: no sample $in" >&2; exit 1; }
    decoded=$out/${sample%.bmp}.decoded.bmp

    echo
    echo "== $in ($(stat -c %s "$in") bytes)"
    "$orvo" info "$in"
    echo "-- orvo decode $in -o $decoded"
    "$orvo" decode "$in" -o "$decoded"
    echo "== $decoded ($(stat -c %s "$decoded") bytes)"
    "$orvo" info "$decoded"
    if cmp -s "$in" "$decoded"; then
        echo "-- identical to the input, byte for byte"
    fi
    tiff=$out/${sample%.bmp}.tif
    back=$out/${sample%.bmp}.from-tiff.bmp
    echo "-- orvo convert $in $tiff --compression packbits"
    "$orvo" convert "$in" "$tiff" --compression packbits
    "$orvo" info "$tiff"
    echo "-- orvo convert $tiff $back"
    "$orvo" convert "$tiff" "$back"
    "$orvo" info "$back"
    base=$out/${sample%.bmp}
    echo "-- orvo process resize $in $base.half.bmp --scale 50%"
    "$orvo" process resize "$in" "$base.half.bmp" --scale 50%
    "$orvo" info "$base.half.bmp"
    echo "-- orvo process rotate $in $base.turned.tif --angle 17"
    "$orvo" process rotate "$in" "$base.turned.tif" --angle 17
    "$orvo" info "$base.turned.tif"
    echo "-- orvo process indexed16 $base.turned.tif $base.16.bmp --dither diffusion"
    "$orvo" process indexed16 "$base.turned.tif" "$base.16.bmp" --dither diffusion
    "$orvo" info "$base.16.bmp"
done

echo
echo "demo: files written in $out"
