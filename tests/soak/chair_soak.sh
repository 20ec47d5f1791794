#!/usr/bin/env bash
# Soak run of the chair program (not part of the test suite): strikes every 200 ms for a given
# time under Xvfb with the paced ALSA capture, then reports the audio output underflows the
# callbacks counted, the peak resident memory, the frame rate and the audio workload from the
# status line.
# Usage: tests/soak/chair_soak.sh [MINUTES]   (10 by default; needs a built tree in build/)
set -uo pipefail
cd "$(dirname "$0")/../.."
minutes=${1:-10}
export TONWELL_BUILD_DIR="$PWD/build"
export TONWELL_PACER="$PWD/build/tests/tonwell_pacer"
export TONWELL_MAKE_TEST_SCENE="$PWD/build/tests/tonwell_make_test_scene"
source tests/e2e/lib.sh
start_xvfb
capture_audio

dir=$(make_scene_demo_dir chair)
export TONWELL_REPORT_UNDERFLOWS=1
start_program chair "$dir"
wait_for_output "PortAudio successfully initalized." || { echo "the chair did not start"; exit 1; }
window=$(wait_for_window "ZEP real-time sound demo.*")
end=$((SECONDS + 60 * minutes))
strikes=0
while ((SECONDS < end)); do
    click 300 215
    strikes=$((strikes + 1))
    sleep 0.2
done
title=$(xdotool getwindowname "$window")
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$PROGRAM_PID/status")
key_at 300 215 Escape
wait_for_exit 10
echo "strikes: $strikes in $minutes min"
echo "status line at the end: $title"
echo "peak resident memory: $((peak_kib / 1024)) MiB"
grep "Audio output underflows" "$E2E_TMP/err"
echo "captured audio: $(audio_frames 1) frames ($(( $(audio_frames 1) / 44100 )) s)"
echo "exit status: $RUN_STATUS"
