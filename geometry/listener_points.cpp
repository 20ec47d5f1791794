// Until the camera exists the listener sits at the origin. The head's frame of a listener.
#include "geometry/listener_points.h"

#include <cmath>

SeqLock<ListenerPoints> publishedListener{ListenerPoints{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};

namespace {

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// v / |v|; false (v unchanged) when |v| is zero or not finite.
bool normalise(double v[3]) {
    const double length = std::sqrt(dot(v, v));
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    for (int k = 0; k < 3; ++k) v[k] /= length;
    return true;
}

}  // namespace

void listenerHeadFrame(const ListenerPoints& listener, double forward[3], double left[3],
                       double up[3]) {
    for (int k = 0; k < 3; ++k) {
        forward[k] = listener.forward[k];
        up[k] = listener.up[k];
    }
    if (normalise(forward)) {
        // Gram-Schmidt: up loses its part along forward.
        const double along = dot(up, forward);
        for (int k = 0; k < 3; ++k) up[k] -= along * forward[k];
        if (normalise(up)) {
            cross(up, forward, left);
            return;
        }
    }
    // Ear points only: left along the ears, the world's up made perpendicular to it.
    for (int k = 0; k < 3; ++k) left[k] = listener.leftEar[k] - listener.rightEar[k];
    if (!normalise(left)) {
        left[0] = -1.0;
        left[1] = left[2] = 0.0;
    }
    const double worldUp[3] = {0.0, 1.0, 0.0};
    const double along = dot(worldUp, left);
    for (int k = 0; k < 3; ++k) up[k] = worldUp[k] - along * left[k];
    if (!normalise(up)) {
        // Ears one above the other: the head lies on its side; up along world -x or +z.
        const double side[3] = {0.0, 0.0, 1.0};
        cross(left, side, up);
        normalise(up);
    }
    cross(left, up, forward);
}
