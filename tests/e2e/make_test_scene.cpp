// Writes a small test scene in the real file formats into a demo directory.
// Usage: tonwell_make_test_scene DEMO_DIRECTORY bell|chair|dragon [SOURCE_STRENGTH]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/test_scene.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s DEMO_DIRECTORY bell|chair|dragon [SOURCE_STRENGTH]\n", argv[0]);
        return 2;
    }
    int selector = -1;
    for (int s = 0; s < 3; ++s) {
        if (sceneName(s) == argv[2]) selector = s;
    }
    if (selector < 0) {
        fprintf(stderr, "%s: unknown scene '%s'\n", argv[0], argv[2]);
        return 2;
    }
    TestSceneOptions options;
    // The dragon's camera starts 0.25 m from the object: a smaller object fits its view.
    if (selector == 2) options.radius = 0.04;
    if (argc > 3) options.sourceStrength = atof(argv[3]);
    writeTestScene(argv[1], selector, options);
    return 0;
}
