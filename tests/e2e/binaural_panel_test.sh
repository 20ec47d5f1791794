# The panel's "Binaural" radio button on the chair: it reads the default HRTF set, starts the
# two-channel stream and both ears hear a strike; "Mono (omni)" and "Stereo (omni)" still switch
# as before; "Modal" falls back to mono.
source "$(dirname "$0")/lib.sh"
start_xvfb
capture_audio

# Pixel positions of the panel's controls (the panel is 330 pixels wide at the window's right).
MONO=(672 118)
STEREO=(672 135)
BINAURAL=(786 118)
MODAL=(605 135)
SILENCE=(603 154)
EXIT_BUTTON=(592 364)
OBJECT=(300 215)

dir=$(make_scene_demo_dir chair)
start_program chair "$dir"
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized."
wait_for_window "ZEP real-time sound demo.*" > /dev/null
sleep 1.5
import -window root "$E2E_TMP/start.png"
unselected=$(pixel_at "$E2E_TMP/start.png" "${BINAURAL[@]}")

if [[ -r /usr/share/libmysofa/default.sofa ]]; then
    click "${BINAURAL[@]}"
    # Reading the set takes the GUI thread most of a second; then the stream starts.
    for _ in $(seq 50); do
        (($(audio_frames 2) > 1000)) && break
        sleep 0.1
    done
    binaural_before=$(audio_frames 2)
    check "'Binaural' starts the two-channel stream" greater "$binaural_before" 1000
    import -window root "$E2E_TMP/binaural.png"
    check "the 'Binaural' button shows selected" pixel_is_not "$E2E_TMP/binaural.png" "${BINAURAL[@]}" "$unselected"
    check "the HRTF set is read without a message" bash -c "! grep -q '^Error' '$E2E_TMP/out'"
    click "${OBJECT[@]}"
    sleep 0.6
    check "the left ear hears the strike" greater "$(audio_stats 2 "$binaural_before" 1 | cut -d' ' -f1)" 0.02
    check "the right ear hears the strike" greater "$(audio_stats 2 "$binaural_before" 2 | cut -d' ' -f1)" 0.02

    # Stereo and back to binaural: the same stream goes on.
    click "${SILENCE[@]}"
    click "${STEREO[@]}"
    sleep 0.4
    import -window root "$E2E_TMP/stereo.png"
    check "'Stereo (omni)' takes the selection from 'Binaural'" \
        test "$(pixel_at "$E2E_TMP/stereo.png" "${BINAURAL[@]}")" == "$unselected"
    click "${BINAURAL[@]}"
    sleep 0.3

    # "Modal" falls back to mono, as it does from stereo.
    mono_before=$(audio_frames 1)
    click "${MODAL[@]}"
    sleep 0.5
    check "'Modal' with binaural selected returns to the mono stream" greater "$(audio_frames 1)" "$((mono_before + 4000))"
    import -window root "$E2E_TMP/modal.png"
    check "'Modal' clears the 'Binaural' selection" \
        test "$(pixel_at "$E2E_TMP/modal.png" "${BINAURAL[@]}")" == "$unselected"
else
    echo "skipped: /usr/share/libmysofa/default.sofa is not installed (libmysofa1)"
fi

click "${EXIT_BUTTON[@]}"
wait_for_exit 10
check "'Exit' ends with status 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
finish
