#!/usr/bin/env bash
# The C example over libtonwell, offline: two quick scenes (a bell and a chair) struck from a
# script; its WAV must be stereo 44.1 kHz, exactly the asked length, and not silent, and each
# object alone must be heard in it (a script that strikes only one object gives a different file).
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$TONWELL_MAKE_TEST_SCENE" "$work/a" bell modes=20 > /dev/null
"$TONWELL_MAKE_TEST_SCENE" "$work/b" chair modes=30 > /dev/null
cat > "$work/script.txt" <<'SCRIPT'
# seconds object vertex magnitude
0.0   0 12 0.02
0.25  1 40 0.02
0.5   0 3  0.01
1.0   1 7  0.04
SCRIPT
grep -v "^1.0 \|^0.25 " "$work/script.txt" > "$work/only_bell.txt"

"$TONWELL_TWO_OBJECTS" "$work/a/bell" "$work/b/chair" "$work/script.txt" \
    --offline "$work/two.wav" --length 1.5
"$TONWELL_TWO_OBJECTS" "$work/a/bell" "$work/b/chair" "$work/only_bell.txt" \
    --offline "$work/bell.wav" --length 1.5

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(soxi -c "$work/two.wav")" = 2 ] || fail "not stereo"
[ "$(soxi -r "$work/two.wav")" = 44100 ] || fail "not 44100 Hz"
[ "$(soxi -s "$work/two.wav")" = 66150 ] || fail "length $(soxi -s "$work/two.wav") frames, not 66150"
peak="$(sox "$work/two.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')"
awk -v p="$peak" 'BEGIN { exit !(p > 0.001) }' || fail "silent (peak $peak)"
cmp -s "$work/two.wav" "$work/bell.wav" && fail "the chair's strikes are not heard"
# The chair struck alone after 0.25 s: the difference of the two files is the chair, loud.
difference="$(sox -m -v 1 "$work/two.wav" -v -1 "$work/bell.wav" -n stat 2>&1 |
    awk '/Maximum amplitude/ {print $3}')"
awk -v p="$difference" 'BEGIN { exit !(p > 0.001) }' || fail "the chair adds nothing ($difference)"
echo "two objects: peak $peak, the chair's part $difference"
