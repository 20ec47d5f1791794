// The renderers' gains at one listener point.
#include "sound/bank_gains.h"

#include <cmath>

#include "sound/transfer_model.h"

void zepGainsAt(const TransferModel& transfer, const double* omega, bool useAvx2Lanes,
                const ObjectPose& pose, const double world[3], double* gains, int modeCount) {
    double object[3];
    worldToObject(pose, world, object);
    transfer.evaluateTransfer(object, gains, modeCount, useAvx2Lanes);
    for (int i = 0; i < modeCount; ++i) gains[i] *= omega[i];
}

void modalGainsAt(double modalRendererGain, const ObjectPose& pose, const double eye[3],
                  double* gains, int modeCount) {
    const double dx = eye[0] - pose.translation[0];
    const double dy = eye[1] - pose.translation[1];
    const double dz = eye[2] - pose.translation[2];
    const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double gain = distance == 0.0 ? 0.0 : modalRendererGain / distance;
    for (int i = 0; i < modeCount; ++i) gains[i] = gain;
}
