// Frame display and the idle step.
//
// Stencil convention, relied on by picking: the stencil buffer is cleared to 0 every frame and
// every drawn fragment that passes the depth test writes the current reference; the struck
// object (and the impact marker) use 1, the bell's fixtures 2, everything else 0.
#include "ui/frame_display.h"

#include <GL/freeglut.h>

#include <cstdio>

#include "app/object_folder.h"
#include "app/scene_loading.h"
#include "app/scene_objects.h"
#include "app/scene_selector.h"
#include "app/startup.h"
#include "app/swing.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_object.h"
#include "sound/synthesis_state.h"
#include "ui/contact_drag.h"
#include "ui/control_panel.h"
#include "ui/level_meter.h"
#include "ui/mode_shape_view.h"
#include "ui/modes_window.h"
#include "ui/picking.h"
#include "ui/window.h"

double graphicsRate = 0.0;
double audioWorkload = 0.0;
int cpuOverloaded = 0;
int meterSaturated = 0;

IntervalTimer lastIdleTime;
IntervalTimer lastStatusTime;
IntervalTimer lastSaturationTime;

namespace {

// The panel's "Contact" settings: edited by the panel, played by the Shift drag.
ContactPanelSettings contactSettings;

const GLfloat kLightPositions[8][4] = {{-10, -10, -10, 1}, {10, -10, -10, 1}, {10, 10, -10, 1},
                                       {-10, 10, -10, 1},  {-10, -10, 10, 1}, {10, -10, 10, 1},
                                       {10, 10, 10, 1},    {-10, 10, 10, 1}};

// Screen-space position of pixel (px, py) of the viewport, at depth -1.
double screenX(double px) { return 2.0 * px / viewportWidth - 1.0; }
double screenY(double py) { return 2.0 * py / viewportHeight - 1.0; }

// White on the chair's black background and on a dark background of an object's presets
// (luma 0.299 R + 0.587 G + 0.114 B below one half), black elsewhere.
void overlayColour() {
    const float* rgb = objectScenePresets.background;
    const bool darkObjectBackground =
        sceneSelector == kObjectScene && 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2] < 0.5f;
    if (sceneSelector == kChairScene || darkObjectBackground) {
        glColor3f(1.0f, 1.0f, 1.0f);
    } else {
        glColor3f(0.0f, 0.0f, 0.0f);
    }
}

// Largest of 0 and the ten entries of a peak ring.
double ringPeak(const std::atomic<double>* ring) {
    double v = 0.0;
    for (int i = 0; i < kPeakRingSize; ++i) {
        const double p = ring[i].load(std::memory_order_relaxed);
        if (p > v) v = p;
    }
    return v;
}

}  // namespace

void drawText(double x, double y, double z, void* font, const char* text) {
    if (text == nullptr || *text == '\0') return;
    glRasterPos3d(x, y, z);
    for (const char* c = text; *c != '\0'; ++c) glutBitmapCharacter(font, *c);
}

void setupLights(const int enabled[8], double intensity) {
    const GLfloat a = static_cast<GLfloat>(intensity);
    const GLfloat colour[4] = {a, a, a, 1.0f};
    for (int i = 0; i < 8; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        glLightfv(light, GL_POSITION, kLightPositions[i]);
        glLightfv(light, GL_AMBIENT, colour);
        glLightfv(light, GL_DIFFUSE, colour);
        glLightfv(light, GL_SPECULAR, colour);
    }
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, colour);
    glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, 1.0f);
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 0.0f);
    for (int i = 0; i < 8; ++i) {
        if (enabled[i]) {
            glEnable(GL_LIGHT0 + i);
        } else {
            glDisable(GL_LIGHT0 + i);
        }
    }
    glEnable(GL_LIGHTING);
}

int drawLevelMeter(int x, int top, double value) {
    const int n = levelMeterSegments(value);
    const int saturated = n > 15;
    const double H = viewportHeight;
    for (int k = 0; k < n; ++k) {
        double t = (k + 0.5) / 15.0;
        if (t > 1.0) t = 1.0;
        double r, g, b;
        colorMap(t, &r, &g, &b);
        glColor3d(r, g, b);
        const double left = x + 12.0 * k, right = left + 10.0;
        const double upper = H - top, lower = H - top - 10.0;
        glBegin(GL_QUADS);
        glVertex3d(screenX(left), screenY(lower), -1.0);
        glVertex3d(screenX(right), screenY(lower), -1.0);
        glVertex3d(screenX(right), screenY(upper), -1.0);
        glVertex3d(screenX(left), screenY(upper), -1.0);
        glEnd();
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    overlayColour();
    glLineWidth(2.0f);
    glBegin(GL_QUADS);
    glVertex3d(screenX(x - 1.25), screenY(H - top - 12.5), -1.0);
    glVertex3d(screenX(x + 178.75), screenY(H - top - 12.5), -1.0);
    glVertex3d(screenX(x + 178.75), screenY(H - top + 2.5), -1.0);
    glVertex3d(screenX(x - 1.25), screenY(H - top + 2.5), -1.0);
    glEnd();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    return saturated;
}

void onDisplay() {
    // Clear; view from the camera.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (camera != nullptr) camera->look();

    if (mainObject != nullptr) {
        const bool bellScene = sceneSelector == kBellScene;
        // Black planar shadows of the swinging parts on the floor, lighting off.
        if (groundConstraint) {
            const double groundPlane[4] = {0.0, 1.0, 0.0, 0.0};
            const double shadowLight[4] = {0.0, 5.0, 0.0, 1.0};
            glDisable(GL_LIGHTING);
            glColor3f(0.0f, 0.0f, 0.0f);
            mainObject->drawShadow(groundPlane, shadowLight);
            if (yokeWoodObject != nullptr) yokeWoodObject->drawShadow(groundPlane, shadowLight);
            if (yokeMetalObject != nullptr) yokeMetalObject->drawShadow(groundPlane, shadowLight);
        }
        // Lights fixed in the world, then the floor (its polygon offset keeps the shadows
        // in front of it).
        setupLights(lightEnabled, lightIntensity);
        if (groundConstraint) glCallList(floorList);
        // Fixtures with stencil 2, the struck object with stencil 1.
        glStencilFunc(GL_ALWAYS, 2, ~0u);
        if (bellScene) {
            if (yokeWoodObject != nullptr) yokeWoodObject->draw();
            if (yokeMetalObject != nullptr) yokeMetalObject->draw();
            if (supportsObject != nullptr) supportsObject->draw();
        }
        glStencilFunc(GL_ALWAYS, 1, ~0u);
        // The Modes window may ask for the object moving in one of its modes instead.
        const int shapeMode = modeShapeShown();
        if (shapeMode >= 0 && modeShapes != nullptr && shapeMode < modeShapes->modeCount) {
            drawModeShape(*mainObject, *modeShapes, shapeMode, glutGet(GLUT_ELAPSED_TIME) / 1000.0);
        } else {
            mainObject->draw();
        }
        // Lighting off; the computational mesh over the surface.
        glDisable(GL_LIGHTING);
        if (showMesh) {
            glColor3f(0.0f, 0.0f, 0.0f);
            glEnable(GL_POLYGON_OFFSET_FILL);
            glPolygonOffset(-1, -1);
            mainObject->drawEdges();
            glDisable(GL_POLYGON_OFFSET_FILL);
        }
        glStencilFunc(GL_ALWAYS, 0, ~0u);
        // The green marker on the struck vertex.
        if (impactMarkerOn) {
            glStencilFunc(GL_ALWAYS, 1, ~0u);
            double x, y, z;
            mainObject->vertexWorldPosition(lastImpact.vertex, &x, &y, &z);
            glPointSize(6.0f);
            glColor3f(0.0f, 1.0f, 0.0f);
            glBegin(GL_POINTS);
            glVertex3d(x, y, z);
            glEnd();
            glStencilFunc(GL_ALWAYS, 0, ~0u);
        }
    }
    glDisable(GL_LIGHTING);

    // Screen-space overlays: the level meters and the warnings.
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();

    const double H = viewportHeight;
    overlayColour();
    drawText(screenX(23), screenY(H - 14), -1.0, GLUT_BITMAP_8_BY_13, "LOG PRESSURE");
    if (channelMode.load(std::memory_order_relaxed) == 0) {
        meterSaturated = drawLevelMeter(20, 20, ringPeak(monoPeaks));
        if (meterSaturated) lastSaturationTime.reset();
        drawText(screenX(7), screenY(H - 31), -1.0, GLUT_BITMAP_9_BY_15, "M");
    } else {
        meterSaturated = drawLevelMeter(20, 20, ringPeak(leftPeaks));
        if (meterSaturated) lastSaturationTime.reset();
        meterSaturated = drawLevelMeter(20, 40, ringPeak(rightPeaks)) || meterSaturated;
        if (meterSaturated) lastSaturationTime.reset();
        drawText(screenX(7), screenY(H - 31), -1.0, GLUT_BITMAP_9_BY_15, "L");
        drawText(screenX(7), screenY(H - 51), -1.0, GLUT_BITMAP_9_BY_15, "R");
    }
    // The saturation notice stays at least half a second after the last saturated frame.
    if (meterSaturated || lastSaturationTime.elapsedSeconds() < 0.5) {
        glColor3f(0.5f, 0.0f, 0.0f);
        drawText(screenX(20), screenY(20), -1.0, GLUT_BITMAP_TIMES_ROMAN_24,
                 "AUDIO SIGNAL SATURATED");
    }
    if (cpuOverloaded) {
        char text[64];
        snprintf(text, sizeof(text), "CPU OVERLOADED: %.f %%", audioWorkload);
        glColor3f(0.5f, 0.0f, 0.0f);
        drawText(screenX(20), screenY(50), -1.0, GLUT_BITMAP_TIMES_ROMAN_24, text);
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();

    // The scene's matrices and viewport, for picking: the panel changes them.
    saveSceneViewForPicking();
    // A Shift drag picks the surface under the pointer once per frame, on the scene just drawn.
    updateContactDrag(contactSettings);
    drawControlPanel(contactSettings);
    glutSwapBuffers();
}

void advanceFrame(double interval) {
    // Two idle calls within one counter tick give no interval to integrate over: keep the last
    // rate and skip the swing and spin (an infinite rate must not reach the swing step).
    if (!(interval > 0.0)) return;
    graphicsRate = 1.0 / interval;
    // The swing and spin advance at most one second per frame; the rate keeps the true interval.
    const double dt = interval > 1.0 ? 1.0 : interval;
    if (sceneSelector == kBellScene) {
        swingStep(dt, graphicsRate);
        applyPoseToObjects();
    }
    if (spinEnabled == 1 && camera != nullptr) {
        // The camera multiplies by its motion scale: spinFrequency turns per second.
        camera->rotateAzimuth((spinFrequency / cameraMotionScale) * dt * twoPi);
    }
}

void onIdle() {
    if (glutGetWindow() != mainWindow) glutSetWindow(mainWindow);

    const int64_t now = queryPerformanceCounter();
    const double interval = lastIdleTime.secondsUntil(now);
    lastIdleTime.reference = now;
    advanceFrame(interval);

    if (lastStatusTime.elapsedSeconds() >= 1.0) {
        char status[256];
        {
            MutexLock lock(workloadMutex);
            audioWorkload = callbackSeconds * 4410000.0 / blockSize;
            snprintf(status, sizeof(status),
                     "%s|Audio: 44100 Hz|ZEP: %d Hz|Audio workload: %.f %%|Graphics: %d Hz",
                     kWindowTitle, zepSamplingRate, audioWorkload,
                     static_cast<int>(graphicsRate + 0.5));
        }
        glutSetWindowTitle(status);
        cpuOverloaded = audioWorkload > 100.0 ? 1 : 0;
        lastStatusTime.reset();
    }

    if (impactMarkerOn && impactTime.elapsedSeconds() > 1.0) impactMarkerOn = false;
    glutPostRedisplay();
}
