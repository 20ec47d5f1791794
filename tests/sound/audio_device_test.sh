# The audio path on the real PortAudio streams, headless: the mono stream's capture equals the
# offline block samples of the same strike bit for bit; mono -> stereo -> mono leaves one segment
# per start with the ringing going on across each switch; the at-exit handler stops the streams;
# without a usable device start-up fails with PortAudio's message and exit code 1.
source "$(dirname "$0")/../e2e/lib.sh"
: "${TONWELL_AUDIO_PROBE:?run through ctest}"

# probe ARGS...: runs the probe in $E2E_TMP (30 s at most); output in $E2E_TMP/out, status in
# RUN_STATUS.
probe() {
    (cd "$E2E_TMP" && timeout 30 "$TONWELL_AUDIO_PROBE" "$@" > "$E2E_TMP/out" 2> "$E2E_TMP/err")
    RUN_STATUS=$?
}

capture_audio

# A strike on the running mono stream.
probe play strike
check "strike: exit code 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
check "strike: 'PortAudio successfully initalized.' then the at-exit line" bash -c \
    "grep -x -e 'PortAudio successfully initalized.' -e 'Closing GLUI windows...' '$E2E_TMP/out' \
     | tr '\n' '|' | grep -qx 'PortAudio successfully initalized.|Closing GLUI windows...|'"
check "strike: only the mono stream ran" bash -c "test -s '$E2E_TMP/audio_1.raw' && ! test -s '$E2E_TMP/audio_2.raw'"
"$TONWELL_AUDIO_PROBE" compare-strike "$E2E_TMP/audio_1.raw"
check "strike: the capture equals the offline rendering" test $? -eq 0

# Mono -> stereo -> mono.
rm -f "$E2E_TMP"/audio_*.raw
probe play switch
check "switch: exit code 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
"$TONWELL_AUDIO_PROBE" check-switch "$E2E_TMP/audio_1.raw" "$E2E_TMP/audio_2.raw"
check "switch: segments and ringing across the switches" test $? -eq 0

# No usable device: the default pcm is a sound card that does not exist.
cat > "$E2E_TMP/nodevice.conf" <<CONF
pcm.!default {
    type hw
    card 3
}
CONF
ALSA_CONFIG_PATH="$E2E_TMP/nodevice.conf" probe play strike
check "no device: exit code 1 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 1
check "no device: 'PortAudio error: ' and the library's text" \
    grep -qx 'PortAudio error: .\+' "$E2E_TMP/out"
check "no device: no success line" bash -c "! grep -q 'successfully initalized' '$E2E_TMP/out'"
cat "$E2E_TMP/out" | sed 's/^/    /'
finish
