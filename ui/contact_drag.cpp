// The Shift drag's picking, speed and hand-over to the audio block.
#include "ui/contact_drag.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cmath>

#include "app/audio_context.h"
#include "app/scene_loading.h"
#include "app/scene_objects.h"
#include "app/swing.h"
#include "geometry/obj_model.h"
#include "geometry/scene_object.h"
#include "platform/interval_timer.h"
#include "sound/moving_contact.h"
#include "ui/picking.h"

namespace {

bool dragging = false;
bool rolling = false;
int pointerX = 0, pointerY = 0;
// The last pick on the object (mesh frame) and when it was taken.
bool havePoint = false;
double lastPoint[3] = {0.0, 0.0, 0.0};
IntervalTimer sinceLastPick;
double speed = 0.0;  // m/s, smoothed over frames
ContactSettingBuilder builder;
ContactSetting lastSetting;

// The speed's smoothing per frame: pointer motion arrives in steps of whole pixels and frames,
// so the raw speed jitters; a one-pole average over about three frames keeps it steady.
constexpr double kSpeedSmoothing = 0.35;

void publish(const ContactSetting& setting) {
    lastSetting = setting;
    programAudioContext.publishedContact.store(setting);
}

void lift() {
    if (!lastSetting.touching) return;
    lastSetting.touching = false;
    programAudioContext.publishedContact.store(lastSetting);
}

}  // namespace

void beginContactDrag(int x, int y, bool roll) {
    dragging = true;
    rolling = roll;
    pointerX = x;
    pointerY = y;
    havePoint = false;
    speed = 0.0;
}

void moveContactDrag(int x, int y) {
    pointerX = x;
    pointerY = y;
}

void endContactDrag() {
    dragging = false;
    havePoint = false;
    lift();
}

bool contactDragActive() { return dragging; }

void updateContactDrag(const ContactPanelSettings& settings) {
    if (!dragging || mainObject == nullptr || modeShapes == nullptr) return;
    double world[3];
    if (!pickObjectSurface(pointerX, pointerY, world)) {
        // Off the object: the contact lifts until the pointer is back on it.
        havePoint = false;
        lift();
        return;
    }
    double q[3];
    worldToObject(world[0], world[1], world[2], &q[0], &q[1], &q[2]);
    SurfacePoint point;
    double normal[3];
    if (!findSurfacePoint(*mainObject->mesh.model, q, &point, normal)) return;
    // The speed: the path the contact point went over the surface since the last frame.
    const double dt = sinceLastPick.elapsedSeconds();
    sinceLastPick.reset();
    if (havePoint && dt > 0.0) {
        const double d[3] = {q[0] - lastPoint[0], q[1] - lastPoint[1], q[2] - lastPoint[2]};
        const double frameSpeed = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) / dt;
        speed += kSpeedSmoothing * (frameSpeed - speed);
    }
    for (int k = 0; k < 3; ++k) lastPoint[k] = q[k];
    havePoint = true;
    const bool roll = rolling || settings.kind == 1;
    const double force = settings.force < 0.0f ? impactMagnitude : settings.force;
    publish(builder.touch(point, normal, force, speed,
                          roll ? ContactKind::kRoll : ContactKind::kScrape, settings.roughness,
                          kDefaultContactSlope, settings.ballRadius_mm * 1e-3));
}
