# Shared harness of the end-to-end tests: runs the real Tonwell programs under a private Xvfb
# display, with ALSA output captured to files through the pacer, in a scratch demo directory.
# Sourced by tests/e2e/*_test.sh; ctest sets TONWELL_BUILD_DIR and TONWELL_PACER.

set -uo pipefail

: "${TONWELL_BUILD_DIR:?run through ctest}"
E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/tonwell-e2e-XXXXXX")
E2E_FAILURES=0
E2E_CHECKS=0
XVFB_PID=""
PROGRAM_PID=""

e2e_cleanup() {
    [[ -n "$PROGRAM_PID" ]] && kill -9 "$PROGRAM_PID" 2>/dev/null
    [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

# check DESCRIPTION COMMAND...: runs COMMAND; a non-zero status is a failed check.
check() {
    local what="$1"
    shift
    E2E_CHECKS=$((E2E_CHECKS + 1))
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        E2E_FAILURES=$((E2E_FAILURES + 1))
    fi
}

# Ends the test: the plain summary line, and the exit status ctest reads.
finish() {
    echo "$((E2E_CHECKS - E2E_FAILURES)) passed, $E2E_FAILURES failed"
    [[ $E2E_FAILURES -eq 0 ]]
}

# Starts a private X server and exports DISPLAY.
start_xvfb() {
    local displayfile="$E2E_TMP/display"
    : > "$displayfile"
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$displayfile" 2>"$E2E_TMP/xvfb.log" &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [[ -s "$displayfile" ]] && break
        sleep 0.05
    done
    [[ -s "$displayfile" ]] || { echo "Xvfb did not start"; cat "$E2E_TMP/xvfb.log"; exit 1; }
    export DISPLAY=":$(head -n1 "$displayfile")"
}

# Points ALSA's default device at the pacer, writing the captured samples to
# $E2E_TMP/audio_<channels>.raw (32-bit float, 44100 Hz).
capture_audio() {
    cat > "$E2E_TMP/asound.conf" <<CONF
pcm.!default {
    type file
    slave.pcm { type null }
    file "|exec $TONWELL_PACER %r %c %b $E2E_TMP/audio_%c.raw"
    format "raw"
}
CONF
    export ALSA_CONFIG_PATH="$E2E_TMP/asound.conf"
}

# Makes a scratch demo directory holding "ZEPSamplingRate.txt" with the text given (none when
# the argument is the word "none") and prints its path.
make_demo_dir() {
    local dir="$E2E_TMP/demo-$RANDOM$RANDOM"
    mkdir -p "$dir"
    [[ "$1" == none ]] || printf '%s' "$1" > "$dir/ZEPSamplingRate.txt"
    echo "$dir"
}

# run_to_exit SCENE DIR: runs the program of SCENE in DIR to its end (10 s at most); stdout in
# $E2E_TMP/out, stderr in $E2E_TMP/err, exit code in RUN_STATUS.
run_to_exit() {
    (cd "$2" && timeout 10 "$TONWELL_BUILD_DIR/tonwell-$1" > "$E2E_TMP/out" 2> "$E2E_TMP/err")
    RUN_STATUS=$?
}

# start_program SCENE DIR: starts the program in the background, output as for run_to_exit.
start_program() {
    (cd "$2" && exec "$TONWELL_BUILD_DIR/tonwell-$1" > "$E2E_TMP/out" 2> "$E2E_TMP/err") &
    PROGRAM_PID=$!
}

# wait_for_output TEXT [SECONDS]: waits until the program's stdout holds TEXT.
wait_for_output() {
    local deadline=$((SECONDS + ${2:-20}))
    while ((SECONDS < deadline)); do
        grep -qF -- "$1" "$E2E_TMP/out" 2>/dev/null && return 0
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.05
    done
    grep -qF -- "$1" "$E2E_TMP/out" 2>/dev/null
}

# wait_for_window TITLE: waits until a window named TITLE exists; prints its id.
wait_for_window() {
    for _ in $(seq 200); do
        local id
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1)
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# stop_program: ends the background program (SIGTERM, then SIGKILL after 5 s); sets RUN_STATUS.
stop_program() {
    kill "$PROGRAM_PID" 2>/dev/null
    for _ in $(seq 100); do
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -9 "$PROGRAM_PID" 2>/dev/null
    wait "$PROGRAM_PID" 2>/dev/null
    RUN_STATUS=$?
    PROGRAM_PID=""
}

# Pixel colour of a screenshot at (x, y) as "r,g,b" in 0..255.
pixel_at() {
    /usr/bin/convert "$1" -format "%[fx:int(255*u.p{$2,$3}.r)],%[fx:int(255*u.p{$2,$3}.g)],%[fx:int(255*u.p{$2,$3}.b)]" info:
}
