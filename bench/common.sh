# common.sh - shared by the comparison scripts of bench/: finds or builds the
# standard workloads and the release `orvo`, and times commands against each
# other.  Source it from a script that has set `bench` to its own name.
#
# The workloads come from ../shared/bench/make-workloads.sh, built on first use
# into $BENCH_WORK (default: ../shared/bench/work, or build/bench-work when
# ../shared is read-only).

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
root=$PWD
rounds=${ROUNDS:-11}

maker=../shared/bench/make-workloads.sh
[ -f "$maker" ] || { echo "$bench: $maker not found" >&2; exit 1; }
if [ -z "${BENCH_WORK:-}" ]; then
    if [ -w ../shared/bench ] || [ -d ../shared/bench/work ]; then
        BENCH_WORK=$(readlink -f ../shared/bench)/work
    else
        BENCH_WORK=$root/build/bench-work
    fi
fi
export BENCH_WORK
[ -f "$BENCH_WORK/.complete" ] || bash "$maker"

orvo=$root/build/release/orvo
if [ ! -x "$orvo" ]; then
    cmake --preset release
    cmake --build --preset release --target orvocore orvo
fi

need() {
    for t in "$@"; do
        command -v "$t" >/dev/null || { echo "$bench: missing '$t' (run scripts/setup.sh)" >&2; exit 1; }
    done
}

out=$(mktemp -d "${TMPDIR:-/tmp}/orvo-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT

now_ns() { date +%s%N; }
median_us() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : int((v[NR/2]+v[NR/2+1])/2)}'; }

# compare LABEL NAME=COMMAND...: runs the commands alternately, one of each per
# round after a warm-up round, so that drift in the machine's speed falls on
# all alike; prints the median wall time of each and the ratios of the first
# to the others.  Commands run through `eval`, output discarded; a failing
# command stops the script.
compare() {
    local label=$1
    shift
    local names=() commands=() entry
    for entry in "$@"; do
        names+=("${entry%%=*}")
        commands+=("${entry#*=}")
    done
    declare -A times=()
    local round i start elapsed
    for round in $(seq 0 "$rounds"); do
        for i in "${!names[@]}"; do
            start=$(now_ns)
            eval "${commands[$i]}" >/dev/null 2>&1 || { echo "$bench: '${commands[$i]}' failed" >&2; exit 1; }
            elapsed=$(( ($(now_ns) - start) / 1000 ))
            [ "$round" -gt 0 ] && times[${names[$i]}]+="$elapsed "
        done
    done
    echo "== $label ($rounds rounds)"
    local first=${names[0]} name
    declare -A median=()
    for name in "${names[@]}"; do
        median[$name]=$(median_us "${times[$name]}")
        printf '   %-8s median %8.1f ms\n' "$name" "$(awk -v u="${median[$name]}" 'BEGIN{print u/1000}')"
    done
    for name in "${names[@]:1}"; do
        printf '   %s/%-8s %.2f\n' "$first" "$name" "$(awk -v a="${median[$first]}" -v b="${median[$name]}" 'BEGIN{print a/b}')"
    done
}
