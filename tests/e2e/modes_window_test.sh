# The Modes window end to end on the chair program with a small test scene (a sphere with modes
# at 310, 520, 870, 1330 and 2050 Hz): the key 'm' opens it, bars appear after a strike and none
# before, a click on the 870 Hz bar solos that mode so that the captured audio holds its
# frequency alone, the mode shape moves the object in colour, and once the window is closed the
# picture is pixel for pixel the one before it was ever opened.
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

OBJECT=(300 215)
VIEW=(500 60)  # a point of the 3-D view's background, clear of the Modes window
MASS_DAMPING_BOX=(800 190)
STIFFNESS_DAMPING_BOX=(800 207)
SILENCE=(603 154)
# The Modes window spans the bottom 170 pixels of the 570-pixel view; its plot runs from x = 40
# to 560 for 50 Hz to 20 kHz on a logarithmic axis, and from y = 362 (0 dB) to 461 (-100 dB).
PLOT=(40 362 520 99)
SHAPE_BOX=(12 351)
bar_x() { awk -v f="$1" 'BEGIN { printf "%d", 40 + 520 * log(f / 50) / log(400) }'; }
BAR_870=("$(bar_x 870)" 440)
SHOTS="${TONWELL_E2E_SHOTS:-$E2E_TMP}"  # set TONWELL_E2E_SHOTS to keep the screenshots
mkdir -p "$SHOTS"

shot() { import -window root -crop 900x480+0+0 "$SHOTS/$1.png"; }
# Pixels of the plot within 10 % of the colour "r,g,b": the bars (40,200,220), the soloed bar
# (255,210,40), bars of modes ringing unheard (110,110,110).
plot_pixels() {
    /usr/bin/convert "$SHOTS/$1.png" -crop "${PLOT[2]}x${PLOT[3]}+${PLOT[0]}+${PLOT[1]}" +repage \
        -fill black -fuzz 10% +opaque "rgb($2)" -fill white -opaque "rgb($2)" \
        -format "%[fx:int(mean*w*h+0.5)]" info:
}
# Strongly coloured pixels (largest minus smallest channel above a quarter of full scale) in
# the 160 x 160 box around the object: the lit object itself is grey.
coloured_pixels() {
    /usr/bin/convert "$SHOTS/$1.png" -crop 160x160+220+135 +repage \
        -fx '(max(max(r,g),b)-min(min(r,g),b))>0.25' -format "%[fx:int(mean*w*h+0.5)]" info:
}
# The last 16,384 mono samples captured, one per line.
last_samples() { tail -c $((16384 * 4)) "$E2E_TMP/audio_1.raw" | od -An -v -f -w4; }
# spectrum LOW HIGH STEP F...: of the samples on standard input, Hann-windowed, the frequency of
# the largest Goertzel power from LOW to HIGH Hz in steps of STEP, then the largest power at the
# frequencies F relative to it, in dB.
spectrum() {
    awk -v low="$1" -v high="$2" -v step="$3" -v list="${*:4}" '
    function power(f,    c, s0, s1, s2, i) {
        c = 2 * cos(2 * 3.141592653589793 * f / 44100); s1 = s2 = 0
        for (i = 1; i <= n; ++i) { s0 = x[i] + c * s1 - s2; s2 = s1; s1 = s0 }
        return s1 * s1 + s2 * s2 - c * s1 * s2
    }
    { x[++n] = $1 * (0.5 - 0.5 * cos(2 * 3.141592653589793 * (n - 1) / 16384)) }
    END {
        for (f = low; f <= high; f += step) { p = power(f); if (p > best) { best = p; at = f } }
        loudest = -1000; split(list, others, " ")
        for (k in others) {
            p = power(others[k]); d = p > 0 && best > 0 ? 10 * log(p / best) / log(10) : -1000
            if (d > loudest) loudest = d
        }
        printf "%.2f %.1f\n", at, loudest
    }'
}
# type_into X Y TEXT: replaces the text of the panel's box at (X, Y).
type_into() {
    click "$1" "$2"
    sleep 0.2
    key_at "$1" "$2" ctrl+a
    xdotool type --delay 30 "$3"
    key_at "$1" "$2" Return
    sleep 0.3
}

dir=$(make_scene_demo_dir chair)
start_program chair "$dir"
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized."
wait_for_window "ZEP real-time sound demo.*" > /dev/null
sleep 1
# Light damping, so that the modes ring for seconds: 870 Hz then decays as exp(-2.5 t).
type_into "${MASS_DAMPING_BOX[@]}" 1
type_into "${STIFFNESS_DAMPING_BOX[@]}" 1e-7
xdotool mousemove "${VIEW[@]}"
sleep 0.5
shot never

key_at "${VIEW[@]}" m
sleep 0.5
shot open
changed=$(/usr/bin/compare -metric AE -crop 570x170+0+310 "$SHOTS/never.png" "$SHOTS/open.png" null: 2>&1)
check "the key 'm' opens the window over the bottom of the view ($changed pixels changed)" \
    greater "$changed" 5000
check "no bar before a strike" test "$(plot_pixels open 40,200,220)" -eq 0

click "${OBJECT[@]}"
sleep 0.3
shot struck
bars=$(plot_pixels struck 40,200,220)
check "bars after a strike ($bars bar pixels)" greater "$bars" 200

# A click on the 870 Hz bar solos it; a strike then sounds that mode alone.
click "${BAR_870[@]}"
sleep 0.3
key_at "${OBJECT[@]}" r
sleep 1.0
shot soloed
check "the soloed bar is drawn in its own colour" greater "$(plot_pixels soloed 255,210,40)" 50
check "the other modes ring on unheard (grey bars)" greater "$(plot_pixels soloed 110,110,110)" 50
# The last samples captured follow the strike (the capture runs about half a second ahead of
# the strike reaching it): their spectrum peaks at 870 Hz, and every other mode is far below.
read -r peak_hz others_db <<< "$(last_samples | spectrum 850 890 0.25 310 520 1330 2050)"
check "the soloed strike peaks at 870 Hz within 3 Hz (at $peak_hz Hz)" \
    awk -v f="$peak_hz" 'BEGIN { exit !(f > 867 && f < 873) }'
check "every other mode is at least 40 dB below it (loudest $others_db dB)" greater -40 "$others_db"

# The mode shape: the soloed mode moves the object, coloured by how far each point moves.
click "${SHAPE_BOX[@]}"
xdotool mousemove "${VIEW[@]}"
sleep 0.5
shot shape1
sleep 0.25
shot shape2
coloured=$(coloured_pixels shape1)
check "'Show mode shape' colours the object ($coloured coloured pixels)" greater "$coloured" 2000
moved=$(/usr/bin/compare -metric AE -crop 160x160+220+135 "$SHOTS/shape1.png" "$SHOTS/shape2.png" null: 2>&1)
check "the shape moves from frame to frame ($moved pixels changed)" greater "$moved" 100

# Closed, the window leaves the picture as it was before it was ever opened.
key_at "${VIEW[@]}" m
click "${SILENCE[@]}"
xdotool mousemove "${VIEW[@]}"
sleep 1.5
shot closed
differing=$(/usr/bin/compare -metric AE "$SHOTS/never.png" "$SHOTS/closed.png" null: 2>&1)
check "closed, the picture is pixel for pixel the unopened one ($differing pixels differ)" \
    test "$differing" == 0
# Picking works as before, and every mode sounds again: 1330 Hz within 60 dB of the peak.
click "${OBJECT[@]}"
sleep 1.0
read -r peak_hz level_1330 <<< "$(last_samples | spectrum 200 2100 5 1330)"
check "closed, a strike sounds the other modes again (1330 Hz at $level_1330 dB)" \
    greater "$level_1330" -60

key_at "${VIEW[@]}" Escape
wait_for_exit 10
check "Escape ends with status 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
finish
