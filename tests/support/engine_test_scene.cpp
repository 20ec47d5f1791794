// The engine's view of the tests' synthetic scenes (see engine_test_scene.h).
#include "tests/support/engine_test_scene.h"

EngineObjectFiles testChairFiles(const TempDir& dir) {
    EngineObjectFiles files;
    files.modeShapeFile = dir.file("chair/chair.U");
    files.frequencyFile = dir.file("chair/chair.freq");
    files.transferListFile = dir.file("chair/chair-ZEPObjectsList-15.txt");
    files.transferBaseDirectory = dir.path();
    files.massDamping = 8.0;
    files.stiffnessDamping = 7e-6;
    return files;
}

ListenerPoints testListenerAt(double x, double y, double z) {
    ListenerPoints listener;
    const double eye[3] = {x, y, z};
    for (int k = 0; k < 3; ++k) {
        listener.eye[k] = eye[k];
        listener.leftEar[k] = eye[k] + (k == 0 ? -0.08 : 0.0);
        listener.rightEar[k] = eye[k] + (k == 0 ? 0.08 : 0.0);
    }
    return listener;
}
