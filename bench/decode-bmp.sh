#!/usr/bin/env bash
# decode-bmp.sh - time `orvo decode` of the 4000x3000 24-bit BMP workload
# against libvips and ImageMagick doing the same job (read a BMP, write a BMP),
# each held to one thread.
#
#   bench/decode-bmp.sh            11 rounds (after one warm-up round)
#   ROUNDS=21 bench/decode-bmp.sh
#
# The workloads come from ../shared/bench/make-workloads.sh, built on first use
# into $BENCH_WORK (default: ../shared/bench/work, or build/bench-work when
# ../shared is read-only).  The commands run alternately, one of each per
# round, so that drift in the machine's speed falls on all of them alike; the
# result is the median wall time of each and the ratios orvo/peer.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."
root=$PWD
rounds=${ROUNDS:-11}

maker=../shared/bench/make-workloads.sh
[ -f "$maker" ] || { echo "decode-bmp: $maker not found" >&2; exit 1; }
if [ -z "${BENCH_WORK:-}" ]; then
    if [ -w ../shared/bench ] || [ -d ../shared/bench/work ]; then
        BENCH_WORK=$(readlink -f ../shared/bench)/work
    else
        BENCH_WORK=$root/build/bench-work
    fi
fi
export BENCH_WORK
[ -f "$BENCH_WORK/.complete" ] || bash "$maker"
input=$BENCH_WORK/photo.bmp
[ -s "$input" ] || { echo "decode-bmp: $input missing" >&2; exit 1; }

orvo=$root/build/release/orvo
if [ ! -x "$orvo" ]; then
    cmake --preset release
    cmake --build --preset release --target orvocore orvo
fi
for t in vips convert; do
    command -v "$t" >/dev/null || { echo "decode-bmp: missing '$t' (run scripts/setup.sh)" >&2; exit 1; }
done

out=$(mktemp -d "${TMPDIR:-/tmp}/orvo-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT

names=(orvo vips magick)
run() {
    case $1 in
        orvo)   "$orvo" decode "$input" -o "$out/orvo.bmp" ;;
        vips)   VIPS_CONCURRENCY=1 vips copy "$input" "$out/vips.bmp" ;;
        magick) convert -limit thread 1 "$input" "$out/magick.bmp" ;;
    esac
}
now_ns() { date +%s%N; }

declare -A times
echo "decode-bmp: $input ($(stat -c %s "$input") bytes), $rounds rounds"
for round in $(seq 0 "$rounds"); do
    for name in "${names[@]}"; do
        start=$(now_ns)
        run "$name" >/dev/null
        elapsed=$(( ($(now_ns) - start) / 1000 ))   # microseconds
        [ "$round" -gt 0 ] && times[$name]+="$elapsed "   # round 0 warms the caches
    done
done

median_us() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : int((v[NR/2]+v[NR/2+1])/2)}'; }
declare -A median
for name in "${names[@]}"; do
    median[$name]=$(median_us "${times[$name]}")
    printf '%-7s median %8.1f ms\n' "$name" "$(awk -v u="${median[$name]}" 'BEGIN{print u/1000}')"
done
for peer in vips magick; do
    printf 'orvo/%-6s %.2f\n' "$peer" "$(awk -v a="${median[orvo]}" -v b="${median[$peer]}" 'BEGIN{print a/b}')"
done
