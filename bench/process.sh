#!/usr/bin/env bash
# process.sh - `orvo process` on the 4000x3000 24-bit photograph against
# libvips and ImageMagick doing the nearest job they have, each held to one
# thread.  Every command reads the BMP workload and writes a BMP (vips reads
# and writes BMP through its ImageMagick loader and saver), except where a
# line says otherwise.
#
# Resizing compares like with like: orvo's kernels sample the source at one
# point per output pixel (no area filter when reducing), so vips runs
# `affine` with the same interpolator and ImageMagick `-interpolative-resize`
# rather than their area-filtering `resize`.  ImageMagick's `-rotate` turns
# by three shears, the others by resampling.  Quantization: ImageMagick's
# `-colors` builds an octree palette; vips has no palette output to BMP, so
# it writes an uncompressed palette PNG through libimagequant (`pngsave
# --palette`), a different algorithm and format.  vips has no error
# diffusion to two colours, so that line compares orvo with ImageMagick only.
#
#   bench/process.sh            11 rounds (after one warm-up round)
#   ROUNDS=5 bench/process.sh
#   ORVO=build/my-rel/orvo bench/process.sh
set -euo pipefail
bench=process
source "$(dirname "$(readlink -f "$0")")/common.sh"
orvo=${ORVO:-$orvo}
need vips convert

# ImageMagick's Debian policy caps the pixel cache at 256 MiB, which sends
# an 8000x6000 picture to disk; give it room so that it is timed in memory.
mkdir -p "$out/policy"
cat >"$out/policy/policy.xml" <<'EOF'
<policymap>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
</policymap>
EOF
export MAGICK_CONFIGURE_PATH=$out/policy

in=$BENCH_WORK/photo.bmp
op() { echo "$orvo process $1 $in $out/o.bmp ${*:2}"; }
vips1() { echo "VIPS_CONCURRENCY=1 vips $1 $in $out/v.${3:-bmp} ${2:-}"; }
im() { echo "convert -limit thread 1 $in $* $out/m.bmp"; }

compare "resize to 1000x750, bilinear" \
    "orvo=$(op resize --size 1000x750 --interpolation bilinear)" \
    "vips=$(vips1 affine "'0.25 0 0 0.25' --interpolate bilinear")" \
    "magick=$(im -interpolate bilinear -interpolative-resize '1000x750!')"
compare "resize to 8000x6000, bilinear" \
    "orvo=$(op resize --size 8000x6000 --interpolation bilinear)" \
    "vips=$(vips1 affine "'2 0 0 2' --interpolate bilinear")" \
    "magick=$(im -interpolate bilinear -interpolative-resize '8000x6000!')"
compare "resize to 8000x6000, cubic (Catmull-Rom)" \
    "orvo=$(op resize --size 8000x6000 --interpolation cubic)" \
    "vips=$(vips1 affine "'2 0 0 2' --interpolate bicubic")" \
    "magick=$(im -interpolate catrom -interpolative-resize '8000x6000!')"
compare "rotate 90 degrees" \
    "orvo=$(op rotate --angle 90)" \
    "vips=$(vips1 rot d270)" \
    "magick=$(im -rotate -90)"
compare "rotate 17 degrees, bilinear, white corners" \
    "orvo=$(op rotate --angle 17 --interpolation bilinear)" \
    "vips=$(vips1 rotate "17 --interpolate bilinear --background 255")" \
    "magick=$(im -interpolate bilinear -background white -rotate -17)"
compare "256 colours, no dither (vips: palette PNG)" \
    "orvo=$(op indexed256 --dither none --quantization popularity)" \
    "vips=$(vips1 pngsave "--palette --colours 256 --dither 0 --compression 0" png)" \
    "magick=$(im +dither -colors 256 -type palette)"
compare "two colours, Floyd-Steinberg error diffusion" \
    "orvo=$(op bitmap --method diffusion)" \
    "magick=$(im -colorspace Gray -dither FloydSteinberg -monochrome)"
compare "grey conversion" \
    "orvo=$(op gray)" \
    "vips=$(vips1 colourspace b-w)" \
    "magick=$(im -colorspace Gray -type grayscale)"
