#!/usr/bin/env bash
# tiff.sh - reading and writing TIFF: the 4000x3000 RGB photograph
# uncompressed and PackBits, and the 20-page A4 document, each copied into a
# new TIFF of the same compression by `orvo convert`, by libtiff's `tiffcp`
# and by `vips copy` (one thread).
#
#   bench/tiff.sh            11 rounds (after one warm-up round)
#   ROUNDS=5 bench/tiff.sh
set -euo pipefail
bench=tiff
source "$(dirname "$(readlink -f "$0")")/common.sh"
need tiffcp vips

w=$BENCH_WORK
compare "RGB 4000x3000, uncompressed" \
    "orvo=$orvo convert $w/photo.tif $out/o.tif" \
    "tiffcp=tiffcp -c none $w/photo.tif $out/t.tif" \
    "vips=VIPS_CONCURRENCY=1 vips copy $w/photo.tif $out/v.tif"
compare "RGB 4000x3000, PackBits" \
    "orvo=$orvo convert $w/photo_packbits.tif $out/o.tif --compression packbits" \
    "tiffcp=tiffcp -c packbits $w/photo_packbits.tif $out/t.tif" \
    "vips=VIPS_CONCURRENCY=1 vips copy $w/photo_packbits.tif $out/v.tif[compression=packbits]"
compare "20 pages 2480x3508, 1 bit, uncompressed" \
    "orvo=$orvo convert $w/multipage.tif $out/o.tif --pages 1:20" \
    "tiffcp=tiffcp -c none $w/multipage.tif $out/t.tif" \
    "vips=VIPS_CONCURRENCY=1 vips copy $w/multipage.tif[n=-1] $out/v.tif"
