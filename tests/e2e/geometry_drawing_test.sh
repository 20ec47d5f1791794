# Model drawing and scene objects with real OpenGL: runs the OpenGL test program
# (tests/gl/model_drawing_gl_test.cpp) under a private Xvfb display.
source "$(dirname "$0")/lib.sh"

start_xvfb
program="$TONWELL_BUILD_DIR/tests/gl/tonwell_gl_tests"
check "the OpenGL test program exists" test -x "$program"
"$program" > "$E2E_TMP/gl.log" 2>&1
status=$?
cat "$E2E_TMP/gl.log"
check "every OpenGL drawing test passes (exit code $status)" test "$status" -eq 0
check "the tests ran" grep -q '^\[  PASSED  \] [1-9][0-9]* tests\?' "$E2E_TMP/gl.log"
finish
