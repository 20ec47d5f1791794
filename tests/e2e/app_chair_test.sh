# The chair program end to end on a small test scene: start-up report, picture, strikes heard
# through the captured audio stream, the panel's buttons and radio groups, keys, and a clean exit.
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

# Pixel positions of the panel's controls (the panel is 330 pixels wide at the window's right).
SILENCE=(603 154)
STEREO=(672 135)
MODAL=(605 135)
MONO=(672 118)
EXIT_BUTTON=(592 364)
MESH_BOX=(640 281)
FEWER_MODES=(845 82)
MASS_DAMPING_BOX=(800 190)
# The object (a sphere of radius 0.2 at the origin) fills the middle of the 600 x 480 view.
OBJECT=(300 215)
BACKGROUND=(60 420)

dir=$(make_scene_demo_dir chair)
start_program chair "$dir"
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized."
expected='Graphics initialization complete.
Loading the obj file chair/chair.obj ...
Num vertices is: 266
Num linear vibration modes is 5
Frequencies [Hz]: 310 520 870 1330 2050 
Num frequencies: 5 . Total num sources: 5
PortAudio successfully initalized.'
got=$(sed -n '/^Graphics initialization complete/,/PortAudio successfully/p' "$E2E_TMP/out")
check "the scene's start-up lines, in order" test "$got" == "$expected"
check "no fixture is loaded in the chair scene" bash -c "! grep -q 'yoke\|supports' '$E2E_TMP/out'"

window=$(wait_for_window "ZEP real-time sound demo.*")
sleep 1.5
title=$(xdotool getwindowname "$window")
check "the title is the status line (got '$title')" bash -c "[[ '$title' =~ ^'ZEP real-time sound demo|Audio: 44100 Hz|ZEP: 200 Hz|Audio workload: '[0-9]+' %|Graphics: '[0-9]+' Hz'\$ ]]"
check "silence before any strike" test "$(audio_stats 1 | cut -d' ' -f1)" == "0"
check "the stream is running (captured frames)" greater "$(audio_frames 1)" 22050

import -window root "$E2E_TMP/start.png"
check "the object is drawn lit in the view" pixel_is_not "$E2E_TMP/start.png" "${OBJECT[@]}" 0,0,0
check "the background is black" test "$(pixel_at "$E2E_TMP/start.png" "${BACKGROUND[@]}")" == "0,0,0"
check "the panel is drawn on the right" pixel_is_not "$E2E_TMP/start.png" 580 380 0,0,0

# A strike sounds, and the marker appears where the object was hit.
before=$(audio_frames 1)
click "${OBJECT[@]}"
# The marker stays one second; look for it in screenshots over the first half of that second
# (a slow build, such as the ThreadSanitizer one, may take a while to draw the next frame).
green=0
for _ in 1 2 3 4 5 6; do
    import -window root "$E2E_TMP/struck.png"
    green=$(green_pixels "$E2E_TMP/struck.png" $((OBJECT[0] - 20)) $((OBJECT[1] - 20)) 40 40)
    ((green > 4)) && break
    sleep 0.05
done
sleep 0.6
read -r peak frames <<< "$(audio_stats 1 "$before")"
check "a strike on the object sounds (peak $peak)" greater "$peak" 0.02
check "nothing clips (peak $peak)" greater 1.0 "$peak"
check "the green marker shows near the click ($green green pixels)" greater "$green" 4
# Every sample before the strike is exactly 0; the strike's force is loaded at the start of a
# block, so the first sound is the first sample of a block (1,760 zero frames that PortAudio
# writes at the stream's start are 8 blocks of 220).
first=$(od -An -v -f -w4 "$E2E_TMP/audio_1.raw" | awk '$1 + 0 != 0 { print NR - 1; exit }')
check "the sound starts on a block boundary (first sample $first)" \
    test -n "$first" -a "$((first % 220))" -eq 0

# Silence, then a click on the background: nothing sounds.
click "${SILENCE[@]}"
sleep 0.3
before=$(audio_frames 1)
click "${BACKGROUND[@]}"
sleep 0.5
check "after 'Silence' a click on the background stays silent" \
    test "$(audio_stats 1 "$before" | cut -d' ' -f1)" == "0"

# "Number of frequencies:" silences at once, also the modes that stay active.
click "${OBJECT[@]}"
sleep 0.15
click "${FEWER_MODES[@]}"
# The capture trails the callback by the device's buffering; without silencing, the ringing
# would still be far from exactly zero here (the 310 Hz mode decays as exp(-17 t)).
sleep 0.6
before=$(audio_frames 1)
sleep 0.5
check "'Number of frequencies:' silences the ringing at once" \
    test "$(audio_stats 1 "$before" | cut -d' ' -f1)" == "0"

# A mass-proportional damping that leaves the 310 Hz mode overdamped (xi = 5000 / (2 omega) =
# 1.28) is refused by that mode alone and the previous value stays in force and on screen.
import -window root "$E2E_TMP/damping-before.png"
box_signature() { /usr/bin/convert "$1" -crop 120x14+760+183 +repage -format "%#" info:; }
click "${MASS_DAMPING_BOX[@]}"
sleep 0.2
key_at "${MASS_DAMPING_BOX[@]}" ctrl+a
xdotool type --delay 30 "5000"
key_at "${MASS_DAMPING_BOX[@]}" Return
sleep 0.4
refusals=$(grep -c "^Error: ksi = .* >= 1 . The IIR filter only supports underdamped systems.$" "$E2E_TMP/out")
check "an overdamping entry is refused by exactly one mode ($refusals messages)" test "$refusals" -eq 1
import -window root "$E2E_TMP/damping-after.png"
check "the box shows the previous value again" \
    test "$(box_signature "$E2E_TMP/damping-after.png")" == "$(box_signature "$E2E_TMP/damping-before.png")"

# 'r' repeats the last strike.
before=$(audio_frames 1)
key_at "${OBJECT[@]}" r
sleep 0.6
check "the key 'r' repeats the strike" greater "$(audio_stats 1 "$before" | cut -d' ' -f1)" 0.02

# Stereo: the stereo stream takes over and both ears hear a strike. 'Display computational mesh'
# and 'Stereo (omni)' are clicked in one burst, faster than a frame: the panel must see both
# clicks, each on its own control.
click "${SILENCE[@]}"
click_two "${MESH_BOX[@]}" "${STEREO[@]}"
sleep 0.5
stereo_before=$(audio_frames 2)
check "'Stereo (omni)' starts the stereo stream" greater "$stereo_before" 1000
import -window root "$E2E_TMP/stereo.png"
white_in_r=$(/usr/bin/convert "$E2E_TMP/stereo.png" -crop 12x16+5+36 +repage txt:- | grep -ci "#FFFFFF")
check "stereo shows the right-ear meter's label ($white_in_r white pixels)" greater "$white_in_r" 3
dark=$(/usr/bin/convert "$E2E_TMP/stereo.png" -crop 80x80+260+175 +repage -colorspace gray -threshold 10% txt:- | grep -ci "#000000")
check "'Display computational mesh', clicked in the same burst, draws the edges ($dark dark pixels)" greater "$dark" 100
click "${OBJECT[@]}"
sleep 0.6
check "the left ear hears the strike" greater "$(audio_stats 2 "$stereo_before" 1 | cut -d' ' -f1)" 0.02
check "the right ear hears the strike" greater "$(audio_stats 2 "$stereo_before" 2 | cut -d' ' -f1)" 0.02

# 'Modal' while stereo runs falls back to mono.
mono_before=$(audio_frames 1)
click "${MODAL[@]}"
sleep 0.5
check "'Modal' with stereo selected returns to the mono stream" greater "$(audio_frames 1)" "$((mono_before + 4000))"
import -window root "$E2E_TMP/modal.png"
white_in_r=$(/usr/bin/convert "$E2E_TMP/modal.png" -crop 12x16+5+36 +repage txt:- | grep -ci "#FFFFFF")
check "the second (right-ear) meter is gone in mono ($white_in_r white pixels)" test "$white_in_r" -eq 0

# A second click on the box takes the mesh overlay away again.
click "${MESH_BOX[@]}"
sleep 0.3
import -window root "$E2E_TMP/mesh.png"
dark=$(/usr/bin/convert "$E2E_TMP/mesh.png" -crop 80x80+260+175 +repage -colorspace gray -threshold 10% txt:- | grep -ci "#000000")
check "a second click on 'Display computational mesh' hides the edges ($dark dark pixels)" test "$dark" -lt 20

# A Shift drag across the object scrapes it: silence before, sound while the pointer moves over
# the object, and no strike (no marker).
click "${SILENCE[@]}"
sleep 0.4
quiet_before=$(audio_frames 1)
sleep 0.3
read -r quiet_peak _ <<< "$(audio_stats 1 "$quiet_before")"
drag_before=$(audio_frames 1)
xdotool mousemove 240 215 keydown shift mousedown 1
for x in 250 260 270 280 290 300 310 320 330 340 350 360; do
    xdotool mousemove "$x" $((215 + (x % 20) / 2))
    sleep 0.04
done
import -window root "$E2E_TMP/drag.png"
xdotool mouseup 1 keyup shift
sleep 0.3
read -r drag_peak _ <<< "$(audio_stats 1 "$drag_before")"
drag_green=$(green_pixels "$E2E_TMP/drag.png" 220 175 160 80)
check "silence before the Shift drag (peak $quiet_peak)" test "$quiet_peak" == "0"
check "a Shift drag across the object scrapes it (peak $drag_peak)" greater "$drag_peak" 0.0005
check "a Shift drag strikes nothing: no marker ($drag_green green pixels)" test "$drag_green" -le 4

# The panel's "Exit" ends the program with status 0 after the at-exit message.
click "${EXIT_BUTTON[@]}"
wait_for_exit 10
check "'Exit' ends with status 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
check "the at-exit message is the last line" test "$(tail -n1 "$E2E_TMP/out")" == "Closing GLUI windows..."
finish
