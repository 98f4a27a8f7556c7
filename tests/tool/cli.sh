#!/usr/bin/env bash
# The `orvo` command as a user drives it: exit codes, messages, the answers of
# `info` on the bundled samples, and `decode` round trips.
#
#   bash cli.sh ORVO_BINARY CORPUS_DIR      (exit 77: skipped)
set -uo pipefail

orvo=$(readlink -f "${1:?usage: cli.sh ORVO_BINARY CORPUS_DIR}")
samples=$(readlink -f "$(dirname "$0")/../../samples")
[ -x "$orvo" ] || { echo "cli.sh: $orvo is not executable"; exit 1; }
[ -f "$samples/gradient.bmp" ] || { echo "cli.sh: no samples in $samples"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && ln -s "$samples" s && mkdir out

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# name | exit status | stdout matches | stderr matches | arguments ('-': anything)
cases='
help             |0|^Usage: orvo COMMAND      |-                         |--help
version          |0|^orvo [0-9]+\.[0-9]+       |-                         |--version
info-help        |0|^Usage: orvo info          |-                         |info --help
decode-help      |0|^Usage: orvo decode        |-                         |decode -h
help-command     |0|^Usage: orvo decode        |-                         |help decode
no-command       |2|-                          |Usage: orvo               |
unknown-command  |2|-                          |unknown command .frob.    |frob
invalid-option   |2|-                          |invalid option .--bogus.  |info --bogus s/gradient.bmp
info-no-file     |2|-                          |no FILE                   |info
decode-no-output |2|-                          |no output                 |decode s/gradient.bmp
decode-no-value  |2|-                          |.-o. needs a value        |decode s/gradient.bmp -o
decode-page-zero |2|-                          |page .0.                  |decode s/gradient.bmp -o out/x.bmp --page 0
info-missing     |1|-                          |^orvo: s/missing.bmp: .*status [0-9-]+ \(|info s/missing.bmp
decode-missing   |1|-                          |^orvo: s/missing.bmp: .*status [0-9-]+ \(|decode s/missing.bmp -o out/x.bmp
decode-page-2    |1|-                          |^orvo: s/gradient.bmp: no page 2|decode --page 2 s/gradient.bmp -o out/x.bmp
info-gradient    |0|^  image 1: 150 x 100, colour mode RGB \(18\), compression none \(0\)$|^$|info s/gradient.bmp
info-palette8    |0|^  image 1: 90 x 60, colour mode 256 colours \(16\)|^$|info s/palette8.bmp
info-format      |0|^s/palette8.bmp: BMP \(format 7\), 1 image$|^$|info s/palette8.bmp
info-one-missing |1|^s/gradient.bmp: BMP      |s/missing.bmp             |info s/missing.bmp s/gradient.bmp
'
trim() { local s=$1; s=${s#"${s%%[! ]*}"}; echo "${s%"${s##*[! ]}"}"; }
matches() { # pattern file: '-' matches anything, '^$' only an empty file
    case $1 in
        -) true ;;
        '^$') [ ! -s "$2" ] ;;
        *) grep -qE -- "$1" "$2" ;;
    esac
}
while IFS='|' read -r name status out err args; do
    name=$(trim "$name"); [ -n "$name" ] || continue
    out=$(trim "$out"); err=$(trim "$err")
    read -r -a argv <<<"$args"
    "$orvo" "${argv[@]}" >stdout 2>stderr
    got=$?
    [ "$got" = "$status" ] || fail "$name: exit $got, expected $status"
    matches "$out" stdout || fail "$name: stdout lacks /$out/: $(head -c 300 stdout)"
    matches "$err" stderr || fail "$name: stderr lacks /$err/: $(head -c 300 stderr)"
done <<<"$cases"

# Failed decodes leave nothing behind, not even a temporary file.
[ -z "$(ls -A out)" ] || fail "failed decodes left files: $(ls -A out)"

# --json: valid JSON, an object for one file and an array for several.
if command -v python3 >/dev/null; then
    "$orvo" info --json s/gradient.bmp s/palette8.bmp s/missing.bmp >json 2>/dev/null
    python3 - json <<'PY' || fail "info --json: $(head -c 600 json)"
import json, sys
files = json.load(open(sys.argv[1]))
want = {"s/gradient.bmp": (150, 100, 18), "s/palette8.bmp": (90, 60, 16)}
assert [f["file"] for f in files] == ["s/gradient.bmp", "s/palette8.bmp", "s/missing.bmp"]
for f in files:
    assert set(f) == {"file", "format", "imageCount", "images", "error"}, f
    if f["file"] in want:
        (image,) = f["images"]
        assert (image["width"], image["height"], image["colorMode"]["code"]) == want[f["file"]], f
        assert f["format"] == {"code": 7, "name": "BMP"} and f["error"] is None, f
    else:
        assert f["format"] is None and f["error"]["status"] != 0, f
PY
    "$orvo" info --json s/gradient.bmp | python3 -c 'import json,sys; assert isinstance(json.load(sys.stdin), dict)' ||
        fail "info --json of one file is not one object"
else
    echo "skip: --json checks (no python3)"
fi

# decode: the output shows the same pixels as the input, and `-o -` writes
# the same bytes as a file.
for sample in gradient palette8; do
    "$orvo" decode "s/$sample.bmp" -o "out/$sample.bmp" || { fail "decode $sample: exit $?"; continue; }
    "$orvo" decode "s/$sample.bmp" -o - >"out/$sample.stdout.bmp" || fail "decode $sample -o -: exit $?"
    cmp -s "out/$sample.bmp" "out/$sample.stdout.bmp" || fail "decode $sample: -o - differs from the file"
    if command -v convert >/dev/null; then
        cmp -s <(convert "s/$sample.bmp" ppm:-) <(convert "out/$sample.bmp" ppm:-) ||
            fail "decode $sample: pixels differ from the input"
    else
        echo "skip: pixel comparison of $sample (no ImageMagick convert)"
    fi
done
"$orvo" info out/gradient.bmp | grep -q '150 x 100' || fail "info of the decoded gradient"

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all cases passed"
