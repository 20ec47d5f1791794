// Writes a small test scene in the real file formats into a demo directory.
// Usage: tonwell_make_test_scene DEMO_DIRECTORY bell|chair|dragon [SOURCE_STRENGTH]
//            [modes=N] [sources=N]
// modes=N gives N modes log-spaced from 180 Hz to 8 kHz (a full-band bell has 244 from 186 Hz to
// 7.96 kHz) instead of the five default ones; sources=N gives each mode N transfer sources.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/test_scene.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr,
                "usage: %s DEMO_DIRECTORY bell|chair|dragon [SOURCE_STRENGTH] [modes=N] "
                "[sources=N]\n",
                argv[0]);
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
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("modes=", 0) == 0) {
            const int count = atoi(arg.c_str() + 6);
            if (count < 1 || count > 10000) {
                fprintf(stderr, "%s: modes=N needs N from 1 to 10000\n", argv[0]);
                return 2;
            }
            options.frequencies = logSpacedFrequencies(count, 180.0, 8000.0);
        } else if (arg.rfind("sources=", 0) == 0) {
            options.sourcesPerMode = atoi(arg.c_str() + 8);
            if (options.sourcesPerMode < 1 || options.sourcesPerMode > 1000) {
                fprintf(stderr, "%s: sources=N needs N from 1 to 1000\n", argv[0]);
                return 2;
            }
        } else {
            options.sourceStrength = atof(arg.c_str());
        }
    }
    writeTestScene(argv[1], selector, options);
    return 0;
}
