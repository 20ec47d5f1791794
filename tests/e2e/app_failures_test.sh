# Broken scene data and a missing audio device: one message each, exit code 1, and the at-exit
# message after it (the failures come after the at-exit handler is registered).
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

# expect_failure NAME DIR MESSAGE [STREAM]: runs the chair program in DIR and checks that it
# ends with status 1, MESSAGE on STREAM (out or err), then "Closing GLUI windows...".
expect_failure() {
    local name=$1 dir=$2 message=$3 stream=${4:-out}
    run_to_exit chair "$dir"
    check "$name: exit code 1 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 1
    check "$name: says '$message'" grep -qxF -- "$message" "$E2E_TMP/$stream"
    check "$name: the at-exit message comes last" \
        test "$(tail -n1 "$E2E_TMP/out")" == "Closing GLUI windows..."
    check "$name: the audio never starts" \
        bash -c "! grep -q 'PortAudio successfully initalized' '$E2E_TMP/out'"
}

dir=$(make_scene_demo_dir chair)
rm "$dir/chair/chair.obj"
expect_failure "missing mesh" "$dir" 'glmReadOBJ() failed: can'"'"'t open data file "chair/chair.obj".' err

dir=$(make_scene_demo_dir chair)
rm "$dir/chair/chair.U"
expect_failure "missing mode shapes" "$dir" "Can't open input matrix file: chair/chair.U."

dir=$(make_scene_demo_dir chair)
head -c 20 "$dir/chair/chair.freq" > "$dir/short" && mv "$dir/short" "$dir/chair/chair.freq"
expect_failure "short frequency file" "$dir" "Error reading the matrix from disk file: chair/chair.freq."

# Frequencies written as a 1 x 5 row instead of a 5 x 1 column: check code 0.
dir=$(make_scene_demo_dir chair)
printf '\x01\x00\x00\x00\x05\x00\x00\x00' | cat - <(tail -c +9 "$dir/chair/chair.freq") > "$dir/row"
mv "$dir/row" "$dir/chair/chair.freq"
expect_failure "frequencies as a row" "$dir" "Error: assertion 5 == 1 failed (0)."

# A transfer list describing fewer modes than the mode shapes: check code 20.
dir=$(make_scene_demo_dir chair)
head -n 4 "$dir/chair/chair-ZEPObjectsList-15.txt" > "$dir/list"
mv "$dir/list" "$dir/chair/chair-ZEPObjectsList-15.txt"
expect_failure "transfer list one mode short" "$dir" "Error: assertion 4 == 5 failed (20)."

# No usable audio device.
cat > "$E2E_TMP/nodevice.conf" <<CONF
pcm.!default { type hw card 3 }
CONF
dir=$(make_scene_demo_dir chair)
ALSA_CONFIG_PATH="$E2E_TMP/nodevice.conf" run_to_exit chair "$dir"
check "no audio device: exit code 1 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 1
check "no audio device: 'PortAudio error: ' and the library's text" \
    grep -qE '^PortAudio error: .+' "$E2E_TMP/out"
check "no audio device: the scene was loaded first" grep -q "^Num frequencies: 5" "$E2E_TMP/out"
check "no audio device: no success line" \
    bash -c "! grep -q 'PortAudio successfully initalized' '$E2E_TMP/out'"
check "no audio device: the at-exit message comes last" \
    test "$(tail -n1 "$E2E_TMP/out")" == "Closing GLUI windows..."
finish
