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
    # Emptied here, before the program starts, so that no wait can read the previous run's lines.
    : > "$E2E_TMP/out"
    : > "$E2E_TMP/err"
    (cd "$2" && exec "$TONWELL_BUILD_DIR/tonwell-$1" >> "$E2E_TMP/out" 2>> "$E2E_TMP/err") &
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

# pixel_is_not FILE X Y COLOUR: true when the pixel at (X, Y) could be read and is not COLOUR.
pixel_is_not() {
    local colour
    colour=$(pixel_at "$1" "$2" "$3") || return 1
    [[ -n "$colour" && "$colour" != "$4" ]]
}

# Audio captured so far on the stream with CHANNELS channels: "max_abs samples" of the floats
# after the first SKIP frames (default 0), on channel CHANNEL (default 1).
audio_stats() {
    local channels=$1 skip=${2:-0} channel=${3:-1}
    local file="$E2E_TMP/audio_$channels.raw"
    [[ -s "$file" ]] || { echo "0 0"; return; }
    local bytes=$(( skip * 4 * channels ))
    tail -c +$((bytes + 1)) "$file" > "$E2E_TMP/audio_tail.raw"
    local frames=$(( $(stat -c %s "$E2E_TMP/audio_tail.raw") / (4 * channels) ))
    ((frames > 0)) || { echo "0 0"; return; }
    local max
    max=$(sox -t raw -r 44100 -e floating-point -b 32 -c "$channels" "$E2E_TMP/audio_tail.raw" \
        -n remix "$channel" stat 2>&1 | awk '/Maximum amplitude/ {a=$3} /Minimum amplitude/ {b=-$3} END {print (a > b ? a : b)}')
    echo "$max $frames"
}

# Frames captured so far on the stream with CHANNELS channels.
audio_frames() {
    local file="$E2E_TMP/audio_$1.raw"
    [[ -f "$file" ]] || { echo 0; return; }
    echo $(( $(stat -c %s "$file") / (4 * $1) ))
}

# Window pixel (x y) of the world point (X, Y, Z) as the scene's start camera sees it:
# project X Y Z RADIUS PHI_DEG THETA_DEG FX FY FZ VIEW_WIDTH VIEW_HEIGHT
project() {
    awk -v X="$1" -v Y="$2" -v Z="$3" -v R="$4" -v phi="$5" -v theta="$6" -v fx="$7" -v fy="$8" \
        -v fz="$9" -v W="${10}" -v H="${11}" 'BEGIN {
        d = 0.017453292519943278; p = phi * d; t = theta * d;
        ex = fx + R * cos(p) * cos(t); ey = fy + R * sin(t); ez = fz - R * sin(p) * cos(t);
        # gluLookAt basis: f forward, s = f x up, u = s x f
        f1 = fx - ex; f2 = fy - ey; f3 = fz - ez; n = sqrt(f1*f1 + f2*f2 + f3*f3);
        f1 /= n; f2 /= n; f3 /= n;
        s1 = -f3; s2 = 0; s3 = f1; n = sqrt(s1*s1 + s3*s3); s1 /= n; s3 /= n;
        u1 = s2*f3 - s3*f2; u2 = s3*f1 - s1*f3; u3 = s1*f2 - s2*f1;
        vx = X - ex; vy = Y - ey; vz = Z - ez;
        cx = s1*vx + s2*vy + s3*vz; cy = u1*vx + u2*vy + u3*vz; cz = f1*vx + f2*vy + f3*vz;
        g = 1 / (sin(22.5 * d) / cos(22.5 * d));
        ndcx = g / (W / H) * cx / cz; ndcy = g * cy / cz;
        printf "%d %d\n", (ndcx + 1) / 2 * W, H - (ndcy + 1) / 2 * H;
    }'
}

# Number of pure-green (marker) pixels in a W x H box at (X, Y) of a screenshot.
green_pixels() {
    /usr/bin/convert "$1" -crop "$4x$5+$2+$3" +repage txt:- | grep -ci "#00FF00"
}

# A demo directory holding the test scene SCENE (bell, chair, dragon) and the rate file.
make_scene_demo_dir() {
    local dir
    dir=$(make_demo_dir "${2:-200}")
    "$TONWELL_MAKE_TEST_SCENE" "$dir" "$1" ${3:-}
    echo "$dir"
}

# click X Y [BUTTON]: a press and release at window pixel (X, Y).
click() {
    xdotool mousemove "$1" "$2" mousedown "${3:-1}" sleep 0.05 mouseup "${3:-1}"
}

# click_two X1 Y1 X2 Y2: a click at (X1, Y1) and one at (X2, Y2) in one burst, a few milliseconds
# apart, so that both fall between two frames of the program.
click_two() {
    xdotool mousemove "$1" "$2" mousedown 1 mouseup 1 mousemove "$3" "$4" mousedown 1 mouseup 1
}

# key_at X Y KEY: a key typed with the pointer at (X, Y).
key_at() {
    xdotool mousemove "$1" "$2" key "$3"
}

# wait_for_exit [SECONDS]: waits for the background program to end; RUN_STATUS is its status
# (137 after a forced kill).
wait_for_exit() {
    local deadline=$((SECONDS + ${1:-10}))
    while ((SECONDS < deadline)); do
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill -9 "$PROGRAM_PID"
    fi
    wait "$PROGRAM_PID" 2>/dev/null
    RUN_STATUS=$?
    PROGRAM_PID=""
}

# Greater-than on decimal numbers.
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

# Number of pixels in the W x H box at (X, Y) of a screenshot farther from COLOUR ("r,g,b",
# 0..255) than ImageMagick's 10 % fuzz (colour distance, 10 % of full scale).
pixels_unlike() {
    /usr/bin/convert "$1" -crop "$4x$5+$2+$3" +repage -fill black -fuzz 10% -opaque "rgb($6)" \
        -fill white +opaque black -format "%[fx:int(mean*w*h+0.5)]" info:
}

# Mean colour "r,g,b" (0..255) of the SIZE x SIZE box centred on (X, Y) of a screenshot.
patch_colour() {
    local half=$(($4 / 2))
    /usr/bin/convert "$1" -crop "$4x$4+$(($2 - half))+$(($3 - half))" +repage -scale '1x1!' \
        -format "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]" info:
}

# border_pixels SHOT BACKGROUND: how many pixels of SHOT unlike BACKGROUND lie in a 12-pixel band
# round the 570 x 480 3-D view, leaving out the level meter's corner, the "LOG PRESSURE" label and
# the view's last column, where the panel's border is drawn.
border_pixels() {
    local band=12 width=570 height=480 border=0 w h bx by box
    local inner=$((width - 2))
    for box in "$((inner - 204)) $band 204 0" "$inner $band 0 $((height - band))" \
        "$band $((height - 36)) 0 36" "$band $height $((inner - band)) 0"; do
        read -r w h bx by <<< "$box"
        border=$((border + $(pixels_unlike "$1" "$bx" "$by" "$w" "$h" "$2")))
    done
    echo "$border"
}

# stands_out COLOUR BACKGROUND: true when COLOUR differs from BACKGROUND by at least 60 (of 255)
# in some channel and no channel of COLOUR is within 6 % of white (above 240).
stands_out() {
    awk -v c="$1" -v b="$2" 'BEGIN {
        split(c, x, ","); split(b, y, ","); far = 0; bright = 0;
        for (i = 1; i <= 3; ++i) {
            d = x[i] - y[i]; if (d < 0) d = -d; if (d >= 60) far = 1; if (x[i] > 240) bright = 1;
        }
        exit !(far && !bright);
    }'
}
