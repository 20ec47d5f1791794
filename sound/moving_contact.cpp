// The contact's hand-over and its block.
#include "sound/moving_contact.h"

#include <cmath>

#include "geometry/mode_shape_matrix.h"
#include "sound/synthesis_state.h"

const ContactSetting& ContactSettingBuilder::touch(const SurfacePoint& point,
                                                   const double direction[3], double normalForce,
                                                   double speed, ContactKind kind, double roughness,
                                                   double slope, double ballRadius_m) {
    if (!designed_ || setting_.design.kind != kind || slope_ != slope ||
        (kind == ContactKind::kRoll && radius_ != ballRadius_m)) {
        setting_.design = designRoughnessProfile(kind, slope, ballRadius_m);
        designed_ = true;
        slope_ = slope;
        radius_ = ballRadius_m;
    }
    setting_.touching = true;
    setting_.point = point;
    const double L = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                               direction[2] * direction[2]);
    for (int k = 0; k < 3; ++k) setting_.direction[k] = L == 0.0 ? 0.0 : direction[k] * (1.0 / L);
    setting_.normalForce = normalForce;
    setting_.speed = speed;
    setting_.roughness = roughness;
    return setting_;
}

void MovingContact::allocate(int modeCount, int maxBlockFrames) {
    start_.assign(modeCount, 0.0);
    end_.assign(modeCount, 0.0);
    signal_.assign(maxBlockFrames > 0 ? maxBlockFrames : 1, 0.0);
    speed_ = 0.0;
    wasTouching_ = false;
}

bool MovingContact::take(const ContactSetting& setting, const ModeShapeMatrix& shapes,
                         int activeModes, int frameCount) {
    const int modes = static_cast<int>(start_.size());
    // This block's modal amplitudes move from the last block's end to this one's: the modal
    // force of F_N (times the strikes' modalForceGain) at the point, or 0 once lifted.
    bool sounding = false;
    for (int i = 0; i < modes; ++i) {
        start_[i] = end_[i];
        end_[i] = 0.0;
        sounding = sounding || start_[i] != 0.0;
    }
    if (setting.touching && shapes.modeCount <= modes) {
        if (modalSurfaceForces(shapes, setting.point, setting.direction,
                               setting.normalForce * modalForceGain, end_.data())) {
            for (int i = activeModes; i < modes; ++i) end_[i] = 0.0;
            sounding = true;
        }
    }
    if (!sounding || frameCount <= 0 || frameCount > static_cast<int>(signal_.size())) {
        wasTouching_ = false;
        return false;
    }
    const double speedEnd = setting.touching ? setting.speed : speed_;
    const double speedStart = wasTouching_ ? speed_ : speedEnd;
    excitation_.generate(setting.design, setting.roughness, speedStart, speedEnd, frameCount,
                         signal_.data());
    speed_ = speedEnd;
    wasTouching_ = setting.touching;
    return true;
}
