// GLUT and OpenGL set-up of the main window, and its at-exit handler. The handlers registered
// here live in their own files (ui/frame_display.cpp for drawing, ui/input_router.cpp for the
// mouse and the keyboard); this file only wires them to the toolkit.
#include "ui/window.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstdlib>

#include "app/audio_context.h"
#include "app/object_folder.h"
#include "app/scene_loading.h"
#include "app/scene_selector.h"
#include "sound/audio_device.h"
#include "sound/synthesis_state.h"
#include "ui/control_panel.h"
#include "ui/frame_display.h"
#include "ui/input_router.h"

const char* const kWindowTitle = "ZEP real-time sound demo";

int windowWidth = 900, windowHeight = 480;
int viewportWidth = 0, viewportHeight = 0;
int mainWindow = 0;
int panelWidth = 0;

void getFreeDrawingArea(int* x, int* y, int* width, int* height) {
    *x = 0;
    *y = 0;
    *width = windowWidth - panelWidth;
    if (*width < 0) *width = 0;
    *height = windowHeight;
}

void initWindow(int argc, char** argv, const char* title) {
    initToolkit(&argc, argv);
    createMainWindow(title);
}

void initToolkit(int* argc, char** argv) { glutInit(argc, argv); }

void createMainWindow(const char* title) {
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(windowWidth, windowHeight);
    mainWindow = glutCreateWindow(title);

    // The display handler, then the input router's handlers: an event over the panel goes to the
    // panel, every other one to the 3-D view (ui/input_router.h).
    glutDisplayFunc(onDisplay);
    glutIdleFunc(onIdle);
    glutKeyboardFunc(routeKeyboard);
    glutKeyboardUpFunc(routeKeyboardUp);
    glutSpecialFunc(routeSpecial);
    glutSpecialUpFunc(routeSpecialUp);
    glutReshapeFunc(onReshape);
    glutMouseFunc(routeMouseButton);
    glutMotionFunc(routeMouseMotion);
    glutPassiveMotionFunc(routePassiveMotion);
}

void initGraphics() {
    // Background by scene; 0.91015625 is exactly 233/256.
    switch (sceneSelector) {
        case kBellScene:
            glClearColor(0.91015625f, 1.0f, 1.0f, 0.0f);
            break;
        case kChairScene:
            glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
            break;
        case kObjectScene: {
            const float* rgb = objectScenePresets.background;
            glClearColor(rgb[0], rgb[1], rgb[2], 0.0f);
            break;
        }
        default:
            glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
            break;
    }
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_STENCIL_TEST);
    // Every drawn fragment writes the current stencil reference: the display sets it per
    // object, and picking reads it back to tell the struck object from its fixtures.
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_POLYGON_SMOOTH);
    glEnable(GL_LINE_SMOOTH);

    onReshape(windowWidth, windowHeight);
    printf("Graphics initialization complete.\n");
}

void onReshape(int width, int height) {
    windowWidth = width;
    windowHeight = height;
    controlPanelReshape(width, height);
    int x = 0, y = 0;
    getFreeDrawingArea(&x, &y, &viewportWidth, &viewportHeight);
    glViewport(x, y, viewportWidth, viewportHeight);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Before the scene is loaded the clipping planes are still 0 and the projection would be
    // degenerate; the first reshape event after the window is shown sets the real one.
    if (nearPlane > 0.0 && viewportHeight > 0) {
        gluPerspective(45.0, static_cast<double>(viewportWidth) / viewportHeight, nearPlane,
                       farPlane);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void onExit() {
    printf("Closing GLUI windows...\n");
    // No audio callback may run once the process starts tearing down the state it reads.
    stopAudio();
    shutdownControlPanel();
    // Long-run measurements (the soak tests) ask for the count of audio underflows and the
    // longest callback against the block's real time; they go to standard error so the console's
    // last line stays the one above.
    if (getenv("TONWELL_REPORT_UNDERFLOWS") != nullptr) {
        fprintf(stderr, "Audio output underflows: %ld\n",
                programAudioContext.outputUnderflowCount.load(std::memory_order_relaxed));
        double largest = 0.0;
        {
            MutexLock lock(workloadMutex);
            largest = programAudioContext.largestCallbackSeconds;
        }
        // A block of blockSize frames lasts blockSize / 44100 s in real time.
        const double blockSeconds = double(blockSize) / kAudioSamplingRate;
        fprintf(stderr, "Largest audio callback: %.3f ms of a %.3f ms block (%.1f %%)\n",
                largest * 1e3, blockSeconds * 1e3, 100.0 * largest / blockSeconds);
    }
}
