// Frame display. Until a scene is loaded there is nothing to draw but the background: the frame
// is cleared to the scene's clear colour (colour, depth and stencil) and shown.
#include "app/frame_display.h"

#include <GL/freeglut.h>

void onDisplay() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glutSwapBuffers();
}
