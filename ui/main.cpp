// Entry point of every scene's program (tonwell-bell, tonwell-chair, tonwell-dragon,
// tonwell-object): the start-up sequence, in its fixed order, ending in the toolkit's event loop.
// The scene is chosen by the sceneSelector of the program's own file (app/program_<scene>.cpp).
#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

#include "app/audio_context.h"
#include "app/object_folder.h"
#include "app/scene_loading.h"
#include "app/scene_selector.h"
#include "app/startup.h"
#include "sound/audio_device.h"
#include "ui/control_panel.h"
#include "ui/window.h"

int main(int argc, char** argv) {
    // Console lines appear as they are printed, also when the console is a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    printBanner();
    if (sceneSelector == kObjectScene) {
        // tonwell-object FOLDER: glutInit takes the X options first, and the argument left names
        // the scene folder, which the rate file sits beside or in; its presets are read before
        // the window opens, so a broken preset file ends the program without one.
        initToolkit(&argc, argv);
        openObjectFolder(argc, argv);
        readObjectZepSamplingRate();
        atexit(onExit);
        createMainWindow(kWindowTitle);
    } else {
        readZepSamplingRate();
        atexit(onExit);
        initWindow(argc, argv, kWindowTitle);
    }
    initGraphics();
    loadScene();
    buildControlPanel();
    startAudio(programAudioContext);
    glutMainLoop();
    return 0;
}
