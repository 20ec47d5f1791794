// The main window: GLUT set-up and handler registration, the fixed OpenGL state, the reshape
// handler that keeps the perspective projection matched to the free drawing area, and the at-exit
// handler that closes the panel and the audio streams.
//
// GUI thread only.
#pragma once

// Title of the main window, and the first field of the once-per-second status line.
extern const char* const kWindowTitle;  // "ZEP real-time sound demo"

// Size of the whole main window in pixels, as last reported to the reshape handler.
extern int windowWidth, windowHeight;
// Size of the 3-D drawing area (the window minus the control panel), set by onReshape.
extern int viewportWidth, viewportHeight;
// GLUT identifier of the main window.
extern int mainWindow;

// Width in pixels of the control panel docked on the window's right edge; 0 until the panel is
// built. The 3-D viewport is the window minus this width.
extern int panelWidth;

// The free drawing area of the main window: the rectangle left of the control panel, in window
// pixels from the lower-left corner.
void getFreeDrawingArea(int* x, int* y, int* width, int* height);

// Initialises GLUT, creates the 900 x 480 RGBA, double-buffered window with depth and stencil
// buffers under `title`, stores its identifier in mainWindow and registers the handlers:
// initToolkit, then createMainWindow.
void initWindow(int argc, char** argv, const char* title);

// glutInit: connects to the display and removes the X options it takes (-display, -geometry,
// ...) from argc and argv, so that what remains are the program's own arguments.
void initToolkit(int* argc, char** argv);

// Creates the main window as initWindow describes and registers the handlers. After initToolkit.
void createMainWindow(const char* title);

// Sets the fixed OpenGL state (the scene's clear colour (the object scene's from its presets),
// depth and stencil testing, smooth shading), runs onReshape once and prints "Graphics
// initialization complete.".
void initGraphics();

// Reshape handler: records the window size, sets the viewport to the free drawing area and the
// projection to a 45-degree perspective of that area's aspect ratio between nearPlane and
// farPlane (left as the identity while nearPlane is not positive), then selects the model-view
// matrix and loads the identity.
void onReshape(int width, int height);

// At-exit handler: prints "Closing GLUI windows..." and shuts down the panel and the audio
// streams, so no callback runs against state that is being destroyed.
void onExit();
