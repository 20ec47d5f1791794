// The control panel, built with Dear ImGui over GLUT and OpenGL 2.
//
// Index
// - [SECTION] Live variables and layout
// - [SECTION] Panel actions: silencing and damping
// - [SECTION] Building, drawing, shutting down
// - [SECTION] Event routing
#include "ui/control_panel.h"

#include <GL/freeglut.h>
#include <imgui.h>
#include <imgui_impl_glut.h>
#include <imgui_impl_opengl2.h>
#include <imgui_internal.h>  // SeparatorEx, for the bar between the two radio groups

#include <cstdlib>

#include "app/scene_loading.h"
#include "app/scene_selector.h"
#include "app/startup.h"
#include "app/swing.h"
#include "app/window.h"
#include "sound/audio_device.h"
#include "sound/modal_resonator.h"
#include "sound/synthesis_state.h"
#include "ui/mouse_keyboard.h"
#include "ui/picking.h"

//-----------------------------------------------------------------------------
// [SECTION] Live variables and layout
//-----------------------------------------------------------------------------

int spinEnabled = 0;
float spinFrequency = 0.333f;
int showMesh = 0;

namespace {

// Wide enough for the widest label, "Repeat last impact (also key 'r')", and the spinners.
constexpr int kPanelWidth = 330;

bool panelBuilt = false;

// Damping text boxes: the text being edited, committed on Enter or on leaving the box.
float massDampingEdit = 0.0f, stiffnessDampingEdit = 0.0f;

// The panel's rectangle in window pixels (origin top left).
bool insidePanel(int x, int y) {
    return panelBuilt && x >= windowWidth - panelWidth && x < windowWidth && y >= 0 &&
           y < windowHeight;
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

// After a frame: the queued mouse events in order, up to and including the first button change;
// then the held key releases.
void deliverHeldInput() {
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

// A label on the left and a widget filling the rest of the line, as one row.
void labelledRow(const char* label) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted(label);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-1.0f);
}

// A framed group: its title, a rule, and the indented controls until endFramedGroup.
void beginFramedGroup(const char* title) {
    ImGui::Spacing();
    ImGui::TextUnformatted(title);
    ImGui::Separator();
    ImGui::Indent();
}
void endFramedGroup() {
    ImGui::Unindent();
    ImGui::Separator();
}

// Places the next item of width `width` in the middle of the panel.
void centreNext(float width) {
    const float available = ImGui::GetContentRegionAvail().x;
    if (available > width) ImGui::SetCursorPosX(ImGui::GetCursorPosX() + (available - width) / 2);
}

// An integer spinner bound to an atomic live variable; returns true when the value changed.
bool intSpinner(const char* id, std::atomic<int>& variable, int low, int high) {
    int value = variable.load(std::memory_order_relaxed);
    const int before = value;
    ImGui::InputInt(id, &value, 1, 10);
    if (value < low) value = low;
    if (value > high) value = high;
    if (value == before) return false;
    variable.store(value, std::memory_order_relaxed);
    return true;
}

// A float spinner clamped to [low, high].
void floatSpinner(const char* id, float* variable, float low, float high, float step) {
    ImGui::InputFloat(id, variable, step, step * 10.0f, "%.3f");
    if (*variable < low) *variable = low;
    if (*variable > high) *variable = high;
}

// A float text box bound to a damping coefficient, committed on Enter or on leaving the box.
void dampingBox(const char* label, const char* id, float* coefficient, float* edit,
                DampingCoefficient which) {
    labelledRow(label);
    // While the box is not being edited it shows the value in force (a rejected entry is
    // replaced by the previous value on screen).
    if (ImGui::GetActiveID() != ImGui::GetID(id)) *edit = *coefficient;
    ImGui::InputFloat(id, edit, 0.0f, 0.0f, "%g");
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        *coefficient = *edit;
        applyDamping(which);
        *edit = *coefficient;
    }
}

void stopAndSilence() {
    if (sceneSelector == kBellScene) {
        swingAngle = 0.0;
        swingVelocity = 0.0;
    }
    silenceAllModes();
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] Panel actions: silencing and damping
//-----------------------------------------------------------------------------

void silenceAllModes() {
    MutexLock lock(synthesisMutex);
    for (int i = 0; i < totalModeCount; ++i) {
        resonators[i]->silence();
        activeModalForce[i] = 0.0;
        pendingModalForce[i] = 0.0;
    }
}

void applyDamping(DampingCoefficient which) {
    float& coefficient = which == kMassProportional ? massDamping : stiffnessDamping;
    float& previous = which == kMassProportional ? previousMassDamping : previousStiffnessDamping;
    if (coefficient < 0.0f) coefficient = previous;
    {
        MutexLock lock(synthesisMutex);
        // c = alpha + beta omega^2 for unit modal mass, tried on every mode, so each refusing mode
        // reports itself; any refusal puts the previous coefficient back in every mode.
        if (setBankDamping(massDamping, stiffnessDamping) != 0) {
            coefficient = previous;
            setBankDamping(massDamping, stiffnessDamping);
        }
    }
    previous = coefficient;
}

//-----------------------------------------------------------------------------
// [SECTION] Building, drawing, shutting down
//-----------------------------------------------------------------------------

void buildControlPanel() {
    for (int k = 0; k < 512; ++k) keyPressFrame[k] = -1, keyReleasePending[k] = false;
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // no saved settings
    ImGui::StyleColorsDark();
    // Compact rows: the whole panel fits the window's 480 pixels.
    ImGuiStyle& style = ImGui::GetStyle();
    style.FramePadding = ImVec2(4.0f, 1.0f);
    style.ItemSpacing = ImVec2(6.0f, 2.0f);
    style.WindowPadding = ImVec2(6.0f, 4.0f);
    ImGui_ImplGLUT_Init();
    ImGui_ImplOpenGL2_Init();
    panelWidth = kPanelWidth;
    panelBuilt = true;
    massDampingEdit = massDamping;
    stiffnessDampingEdit = stiffnessDamping;
    controlPanelReshape(windowWidth, windowHeight);
    // The 3-D view shrinks to the free drawing area.
    onReshape(windowWidth, windowHeight);
}

void controlPanelReshape(int width, int height) {
    if (panelBuilt) ImGui_ImplGLUT_ReshapeFunc(width, height);
}

void drawControlPanel() {
    if (!panelBuilt) return;
    glViewport(0, 0, windowWidth, windowHeight);
    glDisable(GL_STENCIL_TEST);

    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplGLUT_NewFrame();  // in this back end it also starts the ImGui frame
    ImGui::SetNextWindowPos(ImVec2(static_cast<float>(windowWidth - panelWidth), 0.0f),
                            ImGuiCond_Always);
    ImGui::SetNextWindowSize(
        ImVec2(static_cast<float>(panelWidth), static_cast<float>(windowHeight)), ImGuiCond_Always);
    ImGui::Begin("Control panel", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize |
                     ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings);

    beginFramedGroup("Impact force:");
    labelledRow("Duration (audio timesteps):");
    intSpinner("##duration", impactDuration, 1, 256);  // a change needs no action
    labelledRow("Magnitude:");
    floatSpinner("##magnitude", &impactMagnitude, impactMagnitudeMin, impactMagnitudeMax,
                 (impactMagnitudeMax - impactMagnitudeMin) / 100.0f);
    endFramedGroup();

    if (ImGui::Button("Repeat last impact (also key 'r')")) repeatLastImpact();
    if (sceneSelector == kBellScene && ImGui::Button("Spin bell")) pushSwing();

    {
        const char* label = "Number of frequencies:";
        centreNext(ImGui::CalcTextSize(label).x + 130.0f);
        ImGui::AlignTextToFramePadding();
        ImGui::TextUnformatted(label);
        ImGui::SameLine();
        ImGui::SetNextItemWidth(120.0f);
        if (intSpinner("##frequencies", activeModeCount, 1, totalModeCount)) silenceAllModes();
    }

    beginFramedGroup("Renderer type:");
    {
        int renderer = rendererType.load(std::memory_order_relaxed);
        int channels = channelMode.load(std::memory_order_relaxed);
        bool changed = false;
        ImGui::BeginGroup();
        changed |= ImGui::RadioButton("ZEP", &renderer, 0);
        changed |= ImGui::RadioButton("Modal", &renderer, 1);
        ImGui::EndGroup();
        ImGui::SameLine();
        ImGui::SeparatorEx(ImGuiSeparatorFlags_Vertical);
        ImGui::SameLine();
        ImGui::BeginGroup();
        changed |= ImGui::RadioButton("Mono (omni)", &channels, 0);
        changed |= ImGui::RadioButton("Stereo (omni)", &channels, 1);
        ImGui::EndGroup();
        if (changed) {
            rendererType.store(renderer, std::memory_order_relaxed);
            channelMode.store(channels, std::memory_order_relaxed);
            onAudioModeChanged();
        }
    }
    endFramedGroup();

    if (ImGui::Button(sceneSelector == kBellScene ? "Stop and silence bell" : "Silence")) {
        stopAndSilence();
    }

    beginFramedGroup("Rayleigh damping:");
    dampingBox("Mass-proportional:", "##mass", &massDamping, &massDampingEdit, kMassProportional);
    dampingBox("Stiffness-proportional:", "##stiffness", &stiffnessDamping, &stiffnessDampingEdit,
               kStiffnessProportional);
    endFramedGroup();

    beginFramedGroup("Camera spin:");
    {
        bool spin = spinEnabled != 0;
        if (ImGui::Checkbox("Enable spin (also key 's')", &spin)) spinEnabled = spin ? 1 : 0;
        labelledRow("Spin frequency [Hz]:");
        floatSpinner("##spin", &spinFrequency, 0.05f, 3.0f, 0.01f);
    }
    endFramedGroup();

    {
        const char* label = "Display computational mesh";
        centreNext(ImGui::CalcTextSize(label).x + ImGui::GetFrameHeight() +
                   ImGui::GetStyle().ItemInnerSpacing.x);
        bool mesh = showMesh != 0;
        if (ImGui::Checkbox(label, &mesh)) showMesh = mesh ? 1 : 0;
    }

    beginFramedGroup("Mouse buttons:");
    ImGui::TextUnformatted("Left: produce impact on object");
    ImGui::TextUnformatted("Middle: camera zoom");
    ImGui::TextUnformatted("Right: camera orientation");
    endFramedGroup();

    if (ImGui::Button("Exit")) exit(0);

    ImGui::End();
    ImGui::Render();
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());

    glEnable(GL_STENCIL_TEST);
    int x = 0, y = 0, w = 0, h = 0;
    getFreeDrawingArea(&x, &y, &w, &h);
    glViewport(x, y, w, h);

    ++frameNumber;
    deliverHeldInput();
}

void shutdownControlPanel() {
    if (!panelBuilt) return;
    panelBuilt = false;
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGLUT_Shutdown();
    ImGui::DestroyContext();
}

//-----------------------------------------------------------------------------
// [SECTION] Event routing
//-----------------------------------------------------------------------------

void routeMouseButton(int button, int state, int x, int y) {
    const bool known = button >= 0 && button < 3;
    const bool toPanel =
        state == GLUT_DOWN ? insidePanel(x, y) : (known && panelOwnsButton[button]);
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
    if (panelBuilt) deliverOrQueueMouse({false, 0, 0, x, y});
    const bool panelDrag = panelOwnsButton[0] || panelOwnsButton[1] || panelOwnsButton[2];
    if (!panelDrag) onMouseMotion(x, y);
}

void routePassiveMotion(int x, int y) {
    // The 3-D view has no passive-motion handler; the panel needs it for hovering.
    if (panelBuilt) deliverOrQueueMouse({false, 0, 0, x, y});
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
    if (!panelBuilt) return;
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
    if (!panelBuilt || key < 0 || key >= 256) return;
    if (keyPressFrame[256 + key] == frameNumber) {
        keyReleasePending[256 + key] = true;
    } else {
        ImGui_ImplGLUT_SpecialUpFunc(key, x, y);
    }
}
