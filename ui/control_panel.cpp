// The control panel, built with Dear ImGui over GLUT and OpenGL 2.
//
// Index
// - [SECTION] Live variables and layout
// - [SECTION] Panel actions: silencing and damping
// - [SECTION] Building, drawing, shutting down
//
// The events reach the panel through the input router (ui/input_router.cpp).
#include "ui/control_panel.h"

#include <GL/freeglut.h>
#include <imgui.h>
#include <imgui_impl_glut.h>
#include <imgui_impl_opengl2.h>
#include <imgui_internal.h>  // SeparatorEx, for the bar between the two radio groups

#include <cstdlib>

#include "app/scene_loading.h"
#include "app/scene_selector.h"
#include "app/swing.h"
#include "sound/audio_device.h"
#include "sound/modal_resonator.h"
#include "sound/synthesis_state.h"
#include "ui/contact_drag.h"
#include "ui/input_router.h"
#include "ui/modes_window.h"
#include "ui/picking.h"
#include "ui/window.h"

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
    resetHeldPanelInput();
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

void drawControlPanel(ContactPanelSettings& contact) {
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
                     ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoScrollbar);

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
        // Binaural in a column of its own, on the first row: the rows below keep their places.
        ImGui::SameLine();
        ImGui::BeginGroup();
        changed |= ImGui::RadioButton("Binaural", &channels, 2);
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
    ImGui::TextUnformatted("Key 'm': the modes that ring");

    // Below everything else, so the controls above keep their places; two rows, so the section
    // fits the window's height.
    beginFramedGroup("Contact (Shift + left drag; + Ctrl: roll):");
    {
        if (contact.force < 0.0f) contact.force = impactMagnitude;
        if (contact.roughness < 0.0f) contact.roughness = float(sceneContactRoughness());
        ImGui::RadioButton("Scrape", &contact.kind, 0);
        ImGui::SameLine();
        ImGui::RadioButton("Roll", &contact.kind, 1);
        ImGui::SameLine(0.0f, 12.0f);
        labelledRow("Force:");
        floatSpinner("##contactForce", &contact.force, impactMagnitudeMin, impactMagnitudeMax,
                     (impactMagnitudeMax - impactMagnitudeMin) / 100.0f);
        ImGui::AlignTextToFramePadding();
        ImGui::TextUnformatted("Roughness:");
        ImGui::SameLine();
        ImGui::SetNextItemWidth(90.0f);
        floatSpinner("##contactRoughness", &contact.roughness, 0.0f, 0.5f, 0.002f);
        ImGui::SameLine();
        labelledRow("Ball [mm]:");
        floatSpinner("##contactRadius", &contact.ballRadius_mm, 1.0f, 50.0f, 0.5f);
    }
    endFramedGroup();

    ImGui::End();
    drawModesWindow();
    ImGui::Render();
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());

    glEnable(GL_STENCIL_TEST);
    int x = 0, y = 0, w = 0, h = 0;
    getFreeDrawingArea(&x, &y, &w, &h);
    glViewport(x, y, w, h);

    deliverHeldPanelInput();
}

bool controlPanelBuilt() { return panelBuilt; }

void shutdownControlPanel() {
    if (!panelBuilt) return;
    panelBuilt = false;
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGLUT_Shutdown();
    ImGui::DestroyContext();
}
