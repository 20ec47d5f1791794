# tonwell-object on an object of one's own, from a mesh to a strike in two commands: a closed
# ellipsoid bar (0.2 m long) written here is baked from the command line with a material from the
# baker's table, and tonwell-object opens the folder from elsewhere. Its start view shows the
# object inside the frame on the background of the folder's presets.json, and a click at the view's
# centre (the camera's focus, the centre of the object's bounds) is heard at the calibrated
# loudness (the preset strike is calibrated to a median of -12 dBFS over the object; one strike
# lies within -30..0 dBFS). Then the program's own errors: no folder (usage, exit 2), and a broken
# presets.json (one message naming the file and the field, exit 1).
source "$(dirname "$0")/lib.sh"
: "${TONWELL_SOURCE_DIR:?run through ctest}"
start_xvfb
capture_audio

dir=$(make_demo_dir 200)
# The 3-D view: the 900 x 480 window left of the 330-pixel panel; the camera's focus is its centre.
view_width=570
view_height=480
centre_x=$((view_width / 2))
centre_y=$((view_height / 2))

# write_ellipsoid FILE A B C: a closed, outward UV ellipsoid with semi-axes A, B, C metres along
# x, y, z (a pole on each end of y, 12 rings of 24 vertices).
write_ellipsoid() {
    awk -v a="$2" -v b="$3" -v c="$4" 'BEGIN {
        n = 13; m = 24; pi = 3.14159265358979;
        print "v 0 " b " 0";
        for (i = 1; i < n; ++i) for (j = 0; j < m; ++j) {
            t = pi * i / n; p = 2 * pi * j / m;
            printf "v %.9g %.9g %.9g\n", a * sin(t) * cos(p), b * cos(t), c * sin(t) * sin(p);
        }
        print "v 0 " (-b) " 0";
        bottom = 2 + (n - 1) * m;
        # Vertex of ring i (1..n-1), column j, 1-based; outward = d/dphi x d/dtheta.
        for (j = 0; j < m; ++j) {
            k = (j + 1) % m;
            printf "f 1 %d %d\n", 2 + k, 2 + j;
            for (i = 1; i < n - 1; ++i) {
                A = 2 + (i - 1) * m + j; B = 2 + (i - 1) * m + k;
                C = 2 + i * m + k; D = 2 + i * m + j;
                printf "f %d %d %d\nf %d %d %d\n", A, B, C, A, C, D;
            }
            printf "f %d %d %d\n", 2 + (n - 2) * m + j, 2 + (n - 2) * m + k, bottom;
        }
    }' > "$1"
}

# A field of the folder's presets.json with white space removed: json_field FILE KEY gives the
# text after "KEY": up to the next comma or closing bracket, or the whole array for an array.
json_field() {
    tr -d ' \n\t' < "$1" | grep -o "\"$2\":\(\[[^]]*\]\|[^,}]*\)" | head -n1 | cut -d: -f2-
}

# The first command: the bake. The bar's lowest mode (about 8.3 kHz) alone keeps it to seconds.
write_ellipsoid "$E2E_TMP/bar.obj" 0.1 0.03 0.04
start=$SECONDS
check "the bar bakes from the command line" "$TONWELL_BUILD_DIR/tonwell-bake" --quiet \
    --mesh "$E2E_TMP/bar.obj" --material steel --modes 1 "$dir/bar"
echo "bake: $((SECONDS - start)) s"
check "the folder holds its presets" test -s "$dir/bar/presets.json"

# The second command, from another folder than the demo directory.
: > "$E2E_TMP/audio_1.raw"
: > "$E2E_TMP/out"
: > "$E2E_TMP/err"
(cd "$E2E_TMP" && exec "$TONWELL_BUILD_DIR/tonwell-object" "$dir/bar" >> "$E2E_TMP/out" \
    2>> "$E2E_TMP/err") &
PROGRAM_PID=$!
check "start-up reaches the audio stream" wait_for_output "PortAudio successfully initalized." 30
check "the rate file beside the folder is read" \
    grep -qF "ZEP sampling rate read from ZEPSamplingRate.txt : 200" "$E2E_TMP/out"
check "the mesh is loaded from the folder" grep -qF "Loading the obj file bar/" "$E2E_TMP/out"
wait_for_window "ZEP real-time sound demo.*" > /dev/null
sleep 1.5

# The start view: the background of the presets, the object filling a fair part of the view and
# standing out at its centre, nothing of it on the view's edges (left out: the level meter's
# corner, the "LOG PRESSURE" label and the view's last column, where the panel's border is drawn).
shot="$E2E_TMP/bar-start.png"
import -window root "$shot"
background=$(json_field "$dir/bar/presets.json" background | tr -d '[]' |
    awk -F, '{ printf "%d,%d,%d", $1 * 255 + 0.5, $2 * 255 + 0.5, $3 * 255 + 0.5 }')
corner=$(pixel_at "$shot" $((view_width - 20)) $((view_height - 20)))
check "the clear colour is the presets' background ($corner, file $background)" \
    test "$(pixels_unlike "$shot" $((view_width - 20)) $((view_height - 20)) 1 1 "$background")" \
    -eq 0
unlike=$(pixels_unlike "$shot" 0 0 $view_width $view_height "$background")
check "the start view shows the object ($unlike pixels unlike the background)" \
    greater "$unlike" $((view_width * view_height / 20))
colour=$(patch_colour "$shot" $centre_x $centre_y 9)
check "the object's colour at the view's centre ($colour) stands out from $background" \
    stands_out "$colour" "$background"
border=$(border_pixels "$shot" "$background")
check "the object is clear of the view's edges ($border pixels in the border)" \
    test "$border" -eq 0

# A click at the centre, heard at the calibrated loudness.
check "silence before the strike" test "$(audio_stats 1 | cut -d' ' -f1)" == "0"
before=$(audio_frames 1)
click $centre_x $centre_y
sleep 1.0
read -r peak frames <<< "$(audio_stats 1 "$before")"
level=$(awk -v p="$peak" 'BEGIN { if (p > 0) printf "%.1f", 20 * log(p) / log(10); else print -999 }')
echo "strike at the centre: peak $peak ($level dBFS)"
check "the strike is heard within -30..0 dBFS ($level dBFS)" \
    awk -v l="$level" 'BEGIN { exit !(l > -30 && l < 0) }'
key_at $centre_x $centre_y Escape
wait_for_exit 10
check "Escape ends the program with 0 (got $RUN_STATUS)" test "$RUN_STATUS" -eq 0
check "the exit message is the last line" test "$(tail -n1 "$E2E_TMP/out")" == \
    "Closing GLUI windows..."

# No folder: the usage, exit 2.
timeout 10 "$TONWELL_BUILD_DIR/tonwell-object" > "$E2E_TMP/out" 2> "$E2E_TMP/err"
status=$?
check "without a folder: exit 2 (got $status) and the usage" \
    bash -c "[[ $status -eq 2 ]] && grep -q '^Usage: tonwell-object FOLDER' '$E2E_TMP/err'"
# A presets.json with a field of the wrong type: its one message, exit 1, no window.
cp -r "$dir/bar" "$dir/cup"
sed -i 's/"radius": *[0-9.e+-]*/"radius": "near"/' "$dir/cup/presets.json"
sed -i 's/"name": *"bar"/"name": "cup"/' "$dir/cup/presets.json"
(cd "$dir" && timeout 10 "$TONWELL_BUILD_DIR/tonwell-object" cup > "$E2E_TMP/out" \
    2> "$E2E_TMP/err")
status=$?
check "a broken presets.json: exit 1 (got $status)" test "$status" -eq 1
check "its message names the file and the field ($(tail -n1 "$E2E_TMP/out"))" test \
    "$(tail -n1 "$E2E_TMP/out")" == 'Error: "cup/presets.json": "camera.radius" must be a number'

finish
