// The Modes window, drawn with Dear ImGui's draw lists over a fixed rectangle at the bottom of
// the 3-D view.
//
// Index
// - [SECTION] State and layout
// - [SECTION] The physics each bar's label gives
// - [SECTION] Opening, closing, hit testing
// - [SECTION] Drawing
#include "ui/modes_window.h"

#include <GL/freeglut.h>
#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/audio_context.h"
#include "app/scene_loading.h"
#include "sound/audio_block.h"
#include "sound/mode_levels.h"
#include "sound/mode_mask.h"
#include "sound/synthesis_state.h"
#include "ui/window.h"

//-----------------------------------------------------------------------------
// [SECTION] State and layout
//-----------------------------------------------------------------------------

namespace {

constexpr float kWindowHeight = 170.0f;  // pixels, at the bottom of the 3-D view
constexpr double kLowHz = 50.0, kHighHz = 20000.0;
constexpr double kFloor_dB = -100.0, kTop_dB = 0.0;
constexpr double kHoldSeconds = 1.0;     // a peak stays this long ...
constexpr double kHoldFall_dBps = 30.0;  // ... then falls at this rate
constexpr float kBarWidth = 3.0f;
constexpr float kHoverReach = 6.0f;  // pixels from a bar's centre that still hover it

bool open = false;
bool showShape = false;
int lastHovered = -1;  // the mode the pointer last rested on

// The latest published levels, in dB, and each mode's peak hold.
std::vector<double> level_dB, gainSquared, hold_dB, holdSince;

// The levels the program's audio blocks publish and the mask they apply (app/audio_context.h).
ModeLevelBuffer& modeLevels = programAudioContext.modeLevels;
ModeMask& modeMask = programAudioContext.modeMask;

// The window's rectangle in window pixels, origin top left: the bottom of the 3-D view.
void windowRectangle(float* x, float* y, float* width, float* height) {
    *x = 0.0f;
    *width = static_cast<float>(windowWidth - panelWidth);
    *height = kWindowHeight;
    *y = static_cast<float>(windowHeight) - kWindowHeight;
}

// Horizontal position of frequency f (Hz) on the logarithmic axis from kLowHz to kHighHz across
// [left, left + width].
float frequencyX(double f, float left, float width) {
    const double t = std::log(f / kLowHz) / std::log(kHighHz / kLowHz);
    return left + static_cast<float>(t) * width;
}

// Vertical position of a level (dB) between the floor at `bottom` and kTop_dB at `top`.
float levelY(double dB, float top, float bottom) {
    double t = (dB - kFloor_dB) / (kTop_dB - kFloor_dB);
    if (t < 0.0) t = 0.0;
    if (t > 1.0) t = 1.0;
    return bottom - static_cast<float>(t) * (bottom - top);
}

//-----------------------------------------------------------------------------
// [SECTION] The physics each bar's label gives
//-----------------------------------------------------------------------------

// Rayleigh damping with unit modal mass: c = alpha + beta omega^2, and the damping ratio
// xi = c / (2 omega).
double dampingRatio(double omega) {
    return (massDamping + stiffnessDamping * omega * omega) / (2.0 * omega);
}

// Time for a freely ringing mode to fall by 60 dB: its envelope decays as exp(-xi omega t), so
// T60 = ln(1000) / (xi omega).
double decaySeconds(double omega) { return 6.907755278982137 / (dampingRatio(omega) * omega); }

// Takes the newest levels the audio block published, and ages the peak holds by `dt` seconds.
void updateLevels(double now) {
    const int count = activeModes();
    level_dB.resize(count, kFloor_dB);
    gainSquared.resize(count, 0.0);
    hold_dB.resize(count, kFloor_dB);
    holdSince.resize(count, now);
    if (modeLevels.acquireLatest()) {
        const int published = modeLevels.modeCount();
        for (int e = 0; e < count; ++e) {
            const bool have = e < published;
            level_dB[e] =
                have ? modeLevelDecibels(modeLevels.levelsSquared()[e], kFloor_dB) : kFloor_dB;
            gainSquared[e] = have ? modeLevels.gainsSquared()[e] : 0.0;
        }
    }
    for (int e = 0; e < count; ++e) {
        if (level_dB[e] >= hold_dB[e]) {
            hold_dB[e] = level_dB[e];
            holdSince[e] = now;
        } else if (now - holdSince[e] > kHoldSeconds) {
            const double fallen = hold_dB[e] - kHoldFall_dBps * (now - holdSince[e] - kHoldSeconds);
            hold_dB[e] = fallen > level_dB[e] ? fallen : level_dB[e];
        }
    }
}

// One line: the number of sounding modes, the band they cover and their density in it.
void densityLine(int count) {
    if (count <= 0) {
        ImGui::TextUnformatted("No sounding modes.");
        return;
    }
    double low = modeOmega[0], high = modeOmega[0];
    for (int e = 1; e < count; ++e) {
        if (modeOmega[e] < low) low = modeOmega[e];
        if (modeOmega[e] > high) high = modeOmega[e];
    }
    low /= twoPi;
    high /= twoPi;
    const double octaves = high > low ? std::log2(high / low) : 0.0;
    if (count > 1 && octaves > 0.0) {
        // Modal density over the band: modes per kHz and per octave.
        ImGui::Text("%d modes, %.0f-%.0f Hz: %.2f per kHz, %.1f per octave", count, low, high,
                    1000.0 * (count - 1) / (high - low), (count - 1) / octaves);
    } else {
        ImGui::Text("%d mode%s at %.0f Hz", count, count == 1 ? "" : "s", low);
    }
}

// The tooltip of mode e.
void modeTooltip(int e) {
    const double omega = modeOmega[e];
    ImGui::BeginTooltip();
    ImGui::Text("Mode %d: %.1f Hz", e, omega / twoPi);
    const double xi = dampingRatio(omega);
    ImGui::Text("Damping ratio %.3g, decay to -60 dB in %.3g s", xi, decaySeconds(omega));
    const double gain = std::sqrt(e < static_cast<int>(gainSquared.size()) ? gainSquared[e] : 0.0);
    if (rendererType.load(std::memory_order_relaxed) == 1 &&
        channelMode.load(std::memory_order_relaxed) == 0) {
        ImGui::Text("Gain at the listener %.3g (\"Modal\": alike for all)", gain);
    } else {
        // The "ZEP" gain is omega times the transfer: the pressure per unit modal velocity.
        ImGui::Text("Transfer at the listener %.3g Pa per m/s", gain / omega);
    }
    ImGui::Text("Level %.1f dB (full scale)", level_dB[e]);
    if (modeMask.soloedMode() == e) ImGui::TextUnformatted("Soloed: click again to hear all modes");
    if (modeMask.modeMuted(e)) ImGui::TextUnformatted("Muted: right-click to unmute");
    ImGui::EndTooltip();
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] Opening, closing, hit testing
//-----------------------------------------------------------------------------

bool modesWindowOpen() { return open; }

void toggleModesWindow() {
    open = !open;
    if (open) {
        // A publication left from an earlier opening is dropped unread: the bars start from
        // the floor and show the blocks from now on.
        modeLevels.acquireLatest();
        programAudioContext.modeLevelsWanted.store(true, std::memory_order_relaxed);
        return;
    }
    // Closed, the program is what it is without the window.
    programAudioContext.modeLevelsWanted.store(false, std::memory_order_relaxed);
    modeMask.clear();
    showShape = false;
    lastHovered = -1;
    level_dB.clear();
    gainSquared.clear();
    hold_dB.clear();
    holdSince.clear();
}

bool insideModesWindow(int x, int y) {
    if (!open) return false;
    float left, top, width, height;
    windowRectangle(&left, &top, &width, &height);
    return x >= left && x < left + width && y >= top && y < top + height;
}

int modeShapeShown() {
    if (!open || !showShape) return -1;
    const int solo = modeMask.soloedMode();
    const int mode = solo >= 0 ? solo : lastHovered;
    return mode < activeModes() ? mode : -1;
}

//-----------------------------------------------------------------------------
// [SECTION] Drawing
//-----------------------------------------------------------------------------

void drawModesWindow() {
    if (!open) return;
    updateLevels(glutGet(GLUT_ELAPSED_TIME) / 1000.0);
    const int count = static_cast<int>(level_dB.size());

    float left, top, width, height;
    windowRectangle(&left, &top, &width, &height);
    ImGui::SetNextWindowPos(ImVec2(left, top), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(width, height), ImGuiCond_Always);
    bool keepOpen = true;
    ImGui::Begin("Modes (key 'm')", &keepOpen,
                 ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoScrollbar);
    densityLine(count);
    ImGui::Checkbox("Show mode shape", &showShape);
    ImGui::SameLine();
    // A solo of a mode the panel has since taken out of the sounding ones would silence them all,
    // with no bar left to click: it ends.
    if (modeMask.soloedMode() >= count) modeMask.soloMode(-1);
    const int solo = modeMask.soloedMode();
    int muted = 0;
    for (int e = 0; e < count; ++e) muted += modeMask.modeMuted(e);
    if (solo >= 0) {
        ImGui::Text("| solo: mode %d", solo);
    } else if (muted > 0) {
        ImGui::Text("| %d muted", muted);
    } else {
        ImGui::TextUnformatted("| click: solo, right-click: mute");
    }

    // The plot: the remaining area, with room on the left for the dB labels and below for the
    // frequency labels.
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const ImVec2 available = ImGui::GetContentRegionAvail();
    ImGui::InvisibleButton("##bars", ImVec2(available.x, available.y > 20 ? available.y : 20),
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
    const bool plotHovered = ImGui::IsItemHovered();
    const float plotLeft = origin.x + 34.0f, plotRight = origin.x + available.x - 4.0f;
    const float plotTop = origin.y + 2.0f, plotBottom = origin.y + available.y - 14.0f;
    const float plotWidth = plotRight - plotLeft;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(ImVec2(plotLeft, plotTop), ImVec2(plotRight, plotBottom),
                        IM_COL32(20, 20, 24, 255));
    const ImU32 gridColour = IM_COL32(70, 70, 80, 255), labelColour = IM_COL32(160, 160, 170, 255);
    for (double dB = -20.0; dB > kFloor_dB; dB -= 20.0) {
        const float y = levelY(dB, plotTop, plotBottom);
        draw->AddLine(ImVec2(plotLeft, y), ImVec2(plotRight, y), gridColour);
        char text[16];
        snprintf(text, sizeof(text), "%.0f", dB);
        draw->AddText(ImVec2(origin.x, y - 7.0f), labelColour, text);
    }
    const double ticks[] = {100.0, 1000.0, 10000.0};
    const char* tickNames[] = {"100 Hz", "1 kHz", "10 kHz"};
    for (int t = 0; t < 3; ++t) {
        const float x = frequencyX(ticks[t], plotLeft, plotWidth);
        draw->AddLine(ImVec2(x, plotTop), ImVec2(x, plotBottom), gridColour);
        draw->AddText(ImVec2(x - 14.0f, plotBottom), labelColour, tickNames[t]);
    }

    // The mode under the pointer: the bar nearest to it within reach.
    int hovered = -1;
    if (plotHovered) {
        const float mouseX = ImGui::GetIO().MousePos.x;
        float best = kHoverReach;
        for (int e = 0; e < count; ++e) {
            const float distance =
                std::fabs(frequencyX(modeOmega[e] / twoPi, plotLeft, plotWidth) - mouseX);
            if (distance <= best) best = distance, hovered = e;
        }
    }
    if (hovered >= 0) {
        lastHovered = hovered;
        // A left click solos the mode, or hears them all again when it was the soloed one; a
        // right click mutes or unmutes it.
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Left)) {
            modeMask.soloMode(solo == hovered ? -1 : hovered);
        }
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Right)) {
            modeMask.setModeMuted(hovered, !modeMask.modeMuted(hovered));
        }
    }

    // One bar per mode: its level now, and a tick at its held peak. The soloed and the hovered
    // bar go last, on top of a partner at nearly the same frequency (a bell's pairs).
    auto drawBar = [&](int e) {
        const float x = frequencyX(modeOmega[e] / twoPi, plotLeft, plotWidth);
        if (x < plotLeft || x > plotRight) return;
        const ImU32 colour = solo == e                 ? IM_COL32(255, 210, 40, 255)
                             : !modeMask.modeSounds(e) ? IM_COL32(110, 110, 110, 255)
                             : e == hovered            ? IM_COL32(140, 255, 255, 255)
                                                       : IM_COL32(40, 200, 220, 255);
        const float y = levelY(level_dB[e], plotTop, plotBottom);
        if (y < plotBottom) {
            draw->AddRectFilled(ImVec2(x - kBarWidth / 2, y), ImVec2(x + kBarWidth / 2, plotBottom),
                                colour);
        }
        const float hold = levelY(hold_dB[e], plotTop, plotBottom);
        if (hold < plotBottom) {
            draw->AddLine(ImVec2(x - kBarWidth, hold), ImVec2(x + kBarWidth, hold), colour);
        }
        if (e == hovered) {
            draw->AddRect(ImVec2(x - kBarWidth, plotTop), ImVec2(x + kBarWidth, plotBottom),
                          IM_COL32(255, 255, 255, 120));
        }
    };
    for (int e = 0; e < count; ++e) {
        if (e != solo && e != hovered) drawBar(e);
    }
    if (hovered >= 0 && hovered != solo) drawBar(hovered);
    if (solo >= 0 && solo < count) drawBar(solo);
    if (hovered >= 0) modeTooltip(hovered);
    ImGui::End();
    if (!keepOpen) toggleModesWindow();
}
