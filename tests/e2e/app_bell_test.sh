# The bell program end to end on a small test scene: fixtures and floor, the swing pushed by the
# supports and by "Spin bell", stopped by "Stop and silence bell", and strikes heard.
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

# The 3-D view is 570 x 480 (the panel takes 330 pixels of the 900). With the bell's start
# camera the bell's centre, world (0, 1, 0), is at (284, 240) and the right support's middle,
# world (0.48, 0.7, 0), near (430, 380).
BELL=(284 250)
SUPPORT=(440 330)
SKY=(300 40)
FLOOR=(60 300)
SPIN_BUTTON=(610 82)
STOP_BUTTON=(652 171)

dir=$(make_scene_demo_dir bell)
start_program bell "$dir"
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized."
loads=$(grep '^Loading the obj file' "$E2E_TMP/out" | tr '\n' '|')
check "the bell and its three fixtures load in order" test "$loads" == \
    "Loading the obj file bell/bell.obj ...|Loading the obj file bell/yoke-wood.obj ...|Loading the obj file bell/yoke-metal.obj ...|Loading the obj file bell/supports.obj ...|"
window=$(wait_for_window "ZEP real-time sound demo.*")
sleep 1
import -window root "$E2E_TMP/rest.png"
check "light cyan background" test "$(pixel_at "$E2E_TMP/rest.png" "${SKY[@]}")" == "232,255,255"
floor=$(pixel_at "$E2E_TMP/rest.png" "${FLOOR[@]}")
check "a brown floor ($floor)" bash -c "IFS=, read r g b <<< '$floor'; (( r > g && g > b && r > 100 ))"
bell_region() { /usr/bin/convert "$1" -crop 160x160+204+150 +repage -format "%#" info:; }
rest_signature=$(bell_region "$E2E_TMP/rest.png")

# A click on a support pushes the swing and makes no sound.
before=$(audio_frames 1)
click "${SUPPORT[@]}"
sleep 0.4
import -window root "$E2E_TMP/pushed.png"
check "a click on the supports is silent" test "$(audio_stats 1 "$before" | cut -d' ' -f1)" == "0"
check "a click on the supports sets the bell swinging" \
    test "$(bell_region "$E2E_TMP/pushed.png")" != "$rest_signature"

# "Stop and silence bell" brings it back to rest at once.
click "${STOP_BUTTON[@]}"
sleep 0.4
import -window root "$E2E_TMP/stopped.png"
check "'Stop and silence bell' returns the bell to its rest pose" \
    test "$(bell_region "$E2E_TMP/stopped.png")" == "$rest_signature"

# "Spin bell" pushes it again.
click "${SPIN_BUTTON[@]}"
sleep 0.4
import -window root "$E2E_TMP/spun.png"
check "'Spin bell' sets the bell swinging" test "$(bell_region "$E2E_TMP/spun.png")" != "$rest_signature"
click "${STOP_BUTTON[@]}"
sleep 0.3

# A strike on the bell sounds.
before=$(audio_frames 1)
click "${BELL[@]}"
sleep 0.2
import -window root "$E2E_TMP/struck.png"
sleep 0.4
read -r peak frames <<< "$(audio_stats 1 "$before")"
check "a strike on the bell sounds (peak $peak)" greater "$peak" 0.01
# The test scene's bell is loud enough at the default magnitude to reach full scale.
dark_red=$(/usr/bin/convert "$E2E_TMP/struck.png" -crop 320x34+10+426 +repage txt:- | grep -ciE "#(7F|80)0000")
check "a full-scale strike shows 'AUDIO SIGNAL SATURATED' ($dark_red dark red pixels)" \
    greater "$dark_red" 50

# Escape ends the program with status 0.
key_at "${BELL[@]}" Escape
wait_for_exit 10
check "Escape ends with status 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
check "the at-exit message is the last line" test "$(tail -n1 "$E2E_TMP/out")" == "Closing GLUI windows..."
finish
