// The input router (see input_router.h): by position to the panel or to the 3-D view, with the
// panel's events paced to one button change per ImGui frame.
#include "ui/input_router.h"

#include <GL/freeglut.h>
#include <imgui_impl_glut.h>

#include "ui/control_panel.h"
#include "ui/modes_window.h"
#include "ui/mouse_keyboard.h"
#include "ui/window.h"

namespace {

// The panel's rectangle in window pixels (origin top left).
bool insidePanel(int x, int y) {
    return controlPanelBuilt() && x >= windowWidth - panelWidth && x < windowWidth && y >= 0 &&
           y < windowHeight;
}

// Where a mouse press goes to ImGui: the panel, or the Modes window while it is open. (Keys go
// to ImGui over the panel only: the Modes window takes no typing, and its key 'm' closes it.)
bool insideImGuiWindow(int x, int y) {
    return insidePanel(x, y) || (controlPanelBuilt() && insideModesWindow(x, y));
}

// ImGui 1.86 samples the mouse once per frame: a press and a release that both arrive between two
// frames would be lost, and a press followed by a move before the frame would be seen where the
// pointer went, not where it was pressed. So each frame sees at most one button change, at its own
// position: once a change has gone to ImGui in a frame, later changes and moves wait in a queue,
// in order, for the frames after (a quick click right after another at a low frame rate is still
// two clicks, each on its own button). Keys: a release in the same frame as its press is held back
// and delivered after the next frame has seen the press.
int frameNumber = 0;
struct PanelMouseEvent {
    bool isButton;
    int button, state, x, y;
};
constexpr int kQueuedMouseCapacity = 64;
PanelMouseEvent queuedMouse[kQueuedMouseCapacity];
int queuedMouseCount = 0;
bool buttonChangedThisFrame = false;
int keyPressFrame[512];
bool keyReleasePending[512];
// Mouse buttons whose press went to the panel: their motion and release go there too.
bool panelOwnsButton[3] = {false, false, false};

void deliverMouse(const PanelMouseEvent& event) {
    if (event.isButton) {
        buttonChangedThisFrame = true;
        ImGui_ImplGLUT_MouseFunc(event.button, event.state, event.x, event.y);
    } else {
        ImGui_ImplGLUT_MotionFunc(event.x, event.y);
    }
}

// Hands a mouse event to ImGui now if this frame has seen no button change and nothing waits
// before it; otherwise queues it (consecutive moves are merged into the last one).
void deliverOrQueueMouse(const PanelMouseEvent& event) {
    if (queuedMouseCount == 0 && !buttonChangedThisFrame) {
        deliverMouse(event);
        return;
    }
    if (!event.isButton && queuedMouseCount > 0 && !queuedMouse[queuedMouseCount - 1].isButton) {
        queuedMouse[queuedMouseCount - 1] = event;
        return;
    }
    if (queuedMouseCount == kQueuedMouseCapacity) {
        // Clicks far faster than the frames: let the oldest through rather than drop it.
        deliverMouse(queuedMouse[0]);
        for (int i = 1; i < queuedMouseCount; ++i) queuedMouse[i - 1] = queuedMouse[i];
        --queuedMouseCount;
    }
    queuedMouse[queuedMouseCount++] = event;
}

}  // namespace

void resetHeldPanelInput() {
    for (int k = 0; k < 512; ++k) keyPressFrame[k] = -1, keyReleasePending[k] = false;
    queuedMouseCount = 0;
    buttonChangedThisFrame = false;
}

void deliverHeldPanelInput() {
    ++frameNumber;
    buttonChangedThisFrame = false;
    int delivered = 0;
    while (delivered < queuedMouseCount && !buttonChangedThisFrame)
        deliverMouse(queuedMouse[delivered++]);
    for (int i = delivered; i < queuedMouseCount; ++i) queuedMouse[i - delivered] = queuedMouse[i];
    queuedMouseCount -= delivered;
    for (int k = 0; k < 512; ++k) {
        if (!keyReleasePending[k]) continue;
        keyReleasePending[k] = false;
        if (k < 256) {
            ImGui_ImplGLUT_KeyboardUpFunc(static_cast<unsigned char>(k), 0, 0);
        } else {
            ImGui_ImplGLUT_SpecialUpFunc(k - 256, 0, 0);
        }
    }
}

void routeMouseButton(int button, int state, int x, int y) {
    const bool known = button >= 0 && button < 3;
    const bool toPanel =
        state == GLUT_DOWN ? insideImGuiWindow(x, y) : (known && panelOwnsButton[button]);
    if (!toPanel) {
        onMouseButton(button, state, x, y);
        return;
    }
    if (!known) {
        ImGui_ImplGLUT_MouseFunc(button, state, x, y);
        return;
    }
    panelOwnsButton[button] = state == GLUT_DOWN;
    deliverOrQueueMouse({true, button, state, x, y});
}

void routeMouseMotion(int x, int y) {
    if (controlPanelBuilt()) deliverOrQueueMouse({false, 0, 0, x, y});
    const bool panelDrag = panelOwnsButton[0] || panelOwnsButton[1] || panelOwnsButton[2];
    if (!panelDrag) onMouseMotion(x, y);
}

void routePassiveMotion(int x, int y) {
    // The 3-D view has no passive-motion handler; the panel needs it for hovering.
    if (controlPanelBuilt()) deliverOrQueueMouse({false, 0, 0, x, y});
}

void routeKeyboard(unsigned char key, int x, int y) {
    if (!insidePanel(x, y)) {
        onKey(key, x, y);
        return;
    }
    keyPressFrame[key] = frameNumber;
    ImGui_ImplGLUT_KeyboardFunc(key, x, y);
}

void routeKeyboardUp(unsigned char key, int x, int y) {
    if (!controlPanelBuilt()) return;
    if (keyPressFrame[key] == frameNumber) {
        keyReleasePending[key] = true;
    } else {
        ImGui_ImplGLUT_KeyboardUpFunc(key, x, y);
    }
}

void routeSpecial(int key, int x, int y) {
    if (!insidePanel(x, y) || key < 0 || key >= 256) {
        onSpecialKey(key, x, y);
        return;
    }
    keyPressFrame[256 + key] = frameNumber;
    ImGui_ImplGLUT_SpecialFunc(key, x, y);
}

void routeSpecialUp(int key, int x, int y) {
    if (!controlPanelBuilt() || key < 0 || key >= 256) return;
    if (keyPressFrame[256 + key] == frameNumber) {
        keyReleasePending[256 + key] = true;
    } else {
        ImGui_ImplGLUT_SpecialUpFunc(key, x, y);
    }
}
