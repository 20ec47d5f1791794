# The dragon program end to end on a small test scene: its scene loads and draws on white, a
# strike sounds, Escape ends it.
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

OBJECT=(284 240)   # the centre of the 570 x 480 view: the camera looks at the object's origin
CORNER=(40 440)

dir=$(make_scene_demo_dir dragon)
start_program dragon "$dir"
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized."
check "the dragon's mesh is loaded" grep -qx "Loading the obj file dragon/dragon.obj ..." "$E2E_TMP/out"
check "the mode report follows" grep -qx "Num frequencies: 5 . Total num sources: 5" "$E2E_TMP/out"
wait_for_window "ZEP real-time sound demo.*" > /dev/null
sleep 1
import -window root "$E2E_TMP/start.png"
check "white background" test "$(pixel_at "$E2E_TMP/start.png" "${CORNER[@]}")" == "255,255,255"
# The test object's white material saturates to the background's white where it faces the light:
# look for its shaded silhouette in a square around the view's centre.
shaded=$(/usr/bin/convert "$E2E_TMP/start.png" -crop 200x200+$((OBJECT[0] - 100))+$((OBJECT[1] - 100)) \
    +repage txt:- | grep -vci "#FFFFFF")
check "the object is drawn at the view's centre ($shaded shaded pixels)" greater "$shaded" 100
# "LOG PRESSURE" is black on the dragon's white background.
black=$(/usr/bin/convert "$E2E_TMP/start.png" -crop 100x12+22+2 +repage txt:- | grep -ci "#000000")
check "black meter label ($black black pixels)" greater "$black" 20

before=$(audio_frames 1)
click "${OBJECT[@]}"
sleep 0.6
read -r peak frames <<< "$(audio_stats 1 "$before")"
check "a strike on the object sounds (peak $peak)" greater "$peak" 0.01

key_at "${OBJECT[@]}" Escape
wait_for_exit 10
check "Escape ends with status 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
check "the at-exit message is the last line" test "$(tail -n1 "$E2E_TMP/out")" == "Closing GLUI windows..."
finish
