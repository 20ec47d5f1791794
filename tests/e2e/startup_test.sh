# Start-up of the real programs: the ZEP sampling-rate file's cases with their exact console
# output and exit codes, and a good start that opens the 900 x 480 window with the scene's
# background.
source "$(dirname "$0")/lib.sh"

banner_frame="============================================"
rate_report=$(printf '%s\n' "" \
    "****************************************" \
    "Error parsing the sampling rate." \
    "File \"ZEPSamplingRate.txt\" must be present in the main demo directory." \
    "It is a text file and should contain a single line of text, specifying the ZEP sampling rate." \
    "A good choice is 200, and the values must be within the 100 to 300 range." \
    "****************************************")

# Bad rate files: the report is the last output, exit code 1, no at-exit message, no window.
for text in none "" "99" "301" "0" "-5" "hello 200" "4294967496"; do
    dir=$(make_demo_dir "$text")
    run_to_exit chair "$dir"
    check "rate file '$text': exit code 1 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 1
    out=$(cat "$E2E_TMP/out")
    expected=$(sed -n '1,/^Starting the demo/p' "$E2E_TMP/out")$'\n'"$rate_report"
    check "rate file '$text': the seven-line report ends the output" test "$out" == "$expected"
    check "rate file '$text': no at-exit message" bash -c "! grep -q 'Closing GLUI windows' '$E2E_TMP/out'"
done

# The banner: two frame lines of 44 '=' around the title, then an empty line and the start line.
dir=$(make_demo_dir "99")
run_to_exit bell "$dir"
check "banner opens with a line of 44 '='" test "$(head -n1 "$E2E_TMP/out")" == "$banner_frame"
check "banner closes with a second line of 44 '='" \
    test "$(grep -c "^$banner_frame\$" "$E2E_TMP/out")" -eq 2
check "an empty line, then 'Starting the demo...'" \
    bash -c "grep -A2 -x '$banner_frame' '$E2E_TMP/out' | tail -n2 | tr '\n' '|' | grep -qx '|Starting the demo...|'"

# A good start: confirmation lines in order, the window at 900 x 480 with its title and the
# scene's clear colour.
start_xvfb
capture_audio
for scene in chair bell; do
    dir=$(make_scene_demo_dir "$scene" "250 words after the number")
    start_program "$scene" "$dir"
    check "$scene: start-up reaches 'Graphics initialization complete.'" \
        wait_for_output "Graphics initialization complete."
    check "$scene: lines in order" bash -c "grep -x -e 'Starting the demo...' \
        -e 'ZEP sampling rate read from ZEPSamplingRate.txt : 250' \
        -e 'Graphics initialization complete.' '$E2E_TMP/out' | tr '\n' '|' | grep -qx \
        'Starting the demo...|ZEP sampling rate read from ZEPSamplingRate.txt : 250|Graphics initialization complete.|'"
    window=$(wait_for_window "ZEP real-time sound demo")
    check "$scene: a window titled 'ZEP real-time sound demo' opens" test -n "$window"
    if [[ -n "$window" ]]; then
        geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
        check "$scene: the window is 900x480 (got $geometry)" test "$geometry" == "900x480"
        sleep 0.5
        import -window "$window" "$E2E_TMP/$scene.png" 2>/dev/null
        colour=$(pixel_at "$E2E_TMP/$scene.png" 300 40)  # above the object and the floor
        case $scene in
            chair) expected="0,0,0" ;;
            bell) expected="232,255,255" ;; # 233/256 of full scale, rounded to 8 bits
        esac
        check "$scene: the window shows the scene's background $expected (got $colour)" \
            test "$colour" == "$expected"
    fi
    stop_program
done
finish
