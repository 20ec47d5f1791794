#!/usr/bin/env bash
# libtonwell as a host outside this tree gets it: `cmake --install` into a scratch prefix, then a
# small C host compiled with nothing but the installed tonwell.h and the flags of the installed
# tonwell.pc, linked to the installed libtonwell.so, renders a strike on a scene. The shared
# library must export tonwell.h's functions and nothing else.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$TONWELL_BUILD_DIR" --prefix "$work/prefix" > /dev/null
[ -f "$work/prefix/include/tonwell.h" ] || fail "tonwell.h not installed"
library="$(find "$work/prefix" -name libtonwell.so)"
pc="$(find "$work/prefix" -name tonwell.pc)"
[ -n "$library" ] || fail "libtonwell.so not installed"
[ -n "$pc" ] || fail "tonwell.pc not installed"

others="$(nm -D --defined-only "$library" | awk '{print $3}' | grep -v '^tonwell_' || true)"
[ -z "$others" ] || fail "libtonwell.so exports more than tonwell.h: $(echo "$others" | head -3)"
for f in tonwell_engine_create tonwell_engine_render tonwell_object_strike_point; do
    nm -D --defined-only "$library" | grep -q " $f\$" || fail "$f not exported"
done

"$TONWELL_MAKE_TEST_SCENE" "$work/scene" chair modes=12 > /dev/null
cat > "$work/host.c" <<'HOST'
#include <math.h>
#include <stdio.h>
#include <tonwell.h>

int main(int argc, char** argv) {
    tonwell_engine* engine = NULL;
    tonwell_object* chair = NULL;
    static float out[2 * 4410];
    const double eye[3] = {0.6, 0.3, 0.6}, direction[3] = {0.2, -0.4, -1.0};
    if (argc < 2 || tonwell_engine_create(1, 200, &engine) != TONWELL_OK) return 2;
    if (tonwell_engine_set_listener(engine, eye, eye, eye) != TONWELL_OK ||
        tonwell_object_load(engine, argv[1], &chair) != TONWELL_OK ||
        tonwell_object_strike(chair, 3, direction, 1.0) != TONWELL_OK ||
        tonwell_engine_render(engine, out, 4410) != TONWELL_OK) {
        fprintf(stderr, "%s\n", tonwell_last_error_message());
        return 3;
    }
    float peak = 0;
    for (int i = 0; i < 4410; ++i) peak = fabsf(out[i]) > peak ? fabsf(out[i]) : peak;
    tonwell_engine_destroy(engine);
    printf("%g\n", peak);
    return peak > 1e-4f ? 0 : 4;
}
HOST
prefix="$work/prefix"
flags="$(pkg-config --define-variable=prefix="$prefix" --cflags --libs "$pc")"
cc -std=c99 -Wall -Wextra -Werror -o "$work/host" "$work/host.c" $flags \
    -Wl,-rpath,"$(dirname "$library")" -lm || fail "the host does not build against the install"
"$work/host" "$work/scene/chair" > /dev/null || fail "the installed host does not render a strike"
echo "ok: installed, $(nm -D --defined-only "$library" | wc -l) symbols exported, the host renders"
