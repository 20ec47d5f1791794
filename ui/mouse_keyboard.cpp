// Orbit and zoom keep the eye above the bell scene's floor and within the scene's largest
// distance from the focus: a step that would leave those limits is undone whole.
#include "ui/mouse_keyboard.h"

#include <GL/freeglut.h>

#include <cstdlib>

#include "app/scene_loading.h"
#include "geometry/orbit_camera.h"
#include "ui/contact_drag.h"
#include "ui/control_panel.h"
#include "ui/modes_window.h"
#include "ui/picking.h"
#include "ui/window.h"

int leftButtonDown = 0, middleButtonDown = 0, rightButtonDown = 0;
double lastMouseX = 0.0, lastMouseY = 0.0;

void onMouseButton(int button, int state, int x, int y) {
    const int down = state == GLUT_DOWN;
    if (button == GLUT_LEFT_BUTTON) {
        leftButtonDown = down;
        // Shift: a moving contact instead of a strike (with Ctrl, a roll); a plain press strikes.
        const int modifiers = glutGetModifiers();
        if (down && (modifiers & GLUT_ACTIVE_SHIFT)) {
            beginContactDrag(x, y, (modifiers & GLUT_ACTIVE_CTRL) != 0);
        } else if (down) {
            strikeAt(x, y);
        } else if (contactDragActive()) {
            endContactDrag();
        }
    } else if (button == GLUT_MIDDLE_BUTTON) {
        middleButtonDown = down;
    } else if (button == GLUT_RIGHT_BUTTON) {
        rightButtonDown = down;
    }
    lastMouseX = x;
    lastMouseY = y;
}

void orbitCamera(OrbitCamera& camera, double dx, double dy) {
    camera.saveState();
    camera.rotateAzimuth(0.2 * dx);
    camera.rotateElevation(0.2 * dy);
    double e[3];
    camera.getEyePosition(&e[0], &e[1], &e[2]);
    if (groundConstraint == 1 && e[1] < 0.0) camera.restoreState();
}

void zoomCamera(OrbitCamera& camera, double dy) {
    camera.saveState();
    camera.zoom(dy * initialCameraRadius * 0.1);
    double e[3];
    camera.getEyePosition(&e[0], &e[1], &e[2]);
    if (groundConstraint == 1 && e[1] < 0.0) camera.restoreState();
    // The distance test uses the eye taken before any restore; restoring twice is harmless.
    const double d[3] = {e[0] - cameraFocus[0], e[1] - cameraFocus[1], e[2] - cameraFocus[2]};
    if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > maxCameraDistance * maxCameraDistance) {
        camera.restoreState();
    }
    nearPlane = nearPlaneFactor * camera.radius;
    farPlane = farPlaneFactor * camera.radius;
}

void onMouseMotion(int x, int y) {
    const double dx = x - lastMouseX, dy = y - lastMouseY;
    lastMouseX = x;
    lastMouseY = y;
    if (contactDragActive()) moveContactDrag(x, y);
    if (camera == nullptr) return;
    // With both buttons held one event orbits first, then zooms.
    if (rightButtonDown) orbitCamera(*camera, dx, dy);
    if (middleButtonDown) {
        zoomCamera(*camera, dy);
        onReshape(windowWidth, windowHeight);
    }
}

void onKey(unsigned char key, int /*x*/, int /*y*/) {
    switch (key) {
        case 27:
            exit(0);
        case 'r':
            repeatLastImpact();
            break;
        case 's':
            spinEnabled = spinEnabled == 0 ? 1 : 0;
            break;
        case 'm':
            toggleModesWindow();
            break;
        default:
            break;
    }
}

void onSpecialKey(int /*key*/, int /*x*/, int /*y*/) {}
