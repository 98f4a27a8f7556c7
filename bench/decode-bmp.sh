#!/usr/bin/env bash
# decode-bmp.sh - `orvo decode` of the 4000x3000 24-bit BMP workload against
# libvips and ImageMagick doing the same job (read a BMP, write a BMP), each
# held to one thread.
#
#   bench/decode-bmp.sh            11 rounds (after one warm-up round)
#   ROUNDS=21 bench/decode-bmp.sh
set -euo pipefail
bench=decode-bmp
source "$(dirname "$(readlink -f "$0")")/common.sh"
need vips convert

input=$BENCH_WORK/photo.bmp
compare "decode $input" \
    "orvo=$orvo decode $input -o $out/orvo.bmp" \
    "vips=VIPS_CONCURRENCY=1 vips copy $input $out/vips.bmp" \
    "magick=convert -limit thread 1 $input $out/magick.bmp"
