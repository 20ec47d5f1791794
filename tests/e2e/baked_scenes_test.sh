# The programs on scenes made by the real baker: the quick chair and bell recipes baked into a
# scratch demo directory load (one transfer entry per mode), start the audio stream, and a strike
# on the object sounds, finite and below full scale.
source "$(dirname "$0")/lib.sh"
: "${TONWELL_SOURCE_DIR:?run through ctest}"
start_xvfb
capture_audio

dir=$(make_demo_dir 200)
recipes="$TONWELL_SOURCE_DIR/tools/bake/recipes"

# strike_scene SCENE X Y: bakes SCENE's quick recipe into the demo directory, runs its program
# there and strikes window pixel (X, Y).
strike_scene() {
    local scene=$1 x=$2 y=$3
    check "the quick $scene recipe bakes" \
        "$TONWELL_BUILD_DIR/tonwell-bake" --quiet "$recipes/$scene-quick.json" "$dir/$scene"
    local modes
    modes=$(ls "$dir/$scene"/*.sources 2>/dev/null | wc -l)
    check "the $scene scene has transfer files ($modes)" greater "$modes" 0

    : > "$E2E_TMP/audio_1.raw"
    start_program "$scene" "$dir"
    check "$scene: start-up reaches the audio stream" \
        wait_for_output "PortAudio successfully initalized." 30
    local line
    line=$(grep -F "Num frequencies:" "$E2E_TMP/out")
    check "$scene: scene loading passes with every mode ('$line')" \
        bash -c "[[ '$line' =~ ^'Num frequencies: $modes . Total num sources: '[1-9][0-9]*\$ ]]"
    wait_for_window "ZEP real-time sound demo.*" > /dev/null
    sleep 1.5
    check "$scene: silence before the strike" test "$(audio_stats 1 | cut -d' ' -f1)" == "0"
    local before peak frames
    before=$(audio_frames 1)
    click "$x" "$y"
    sleep 1.0
    read -r peak frames <<< "$(audio_stats 1 "$before")"
    check "$scene: a strike on the object sounds (peak $peak over $frames frames)" \
        greater "$peak" 0.0
    check "$scene: the sound is finite (no nan or inf samples)" \
        bash -c "! od -An -v -f -w4 '$E2E_TMP/audio_1.raw' | grep -qi 'nan\|inf'"
    check "$scene: below full scale (peak $peak)" greater 1.0 "$peak"
    stop_program
}

# The chair's seat, world (0, 0, 0.05), through the chair's start camera (600 x 480 view).
read -r seat_x seat_y <<< "$(project 0 0 0.05 1.2 -70 20 0 -0.05 0 600 480)"
strike_scene chair "$seat_x" "$seat_y"
# The bell's centre, world (0, 1, 0), is the middle of its 570 x 480 view.
strike_scene bell 284 240

finish
