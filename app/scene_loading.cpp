// Scene loading. The three scenes differ only in the values of the preset table
// (geometry/scene_presets.cpp) and in which fixture meshes exist; everything is a branch on
// sceneSelector. The object scene loads as the chair does, from the presets and files of its
// folder.
#include "app/scene_loading.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/audio_context.h"
#include "app/object_folder.h"
#include "app/scene_objects.h"
#include "app/scene_selector.h"
#include "app/swing.h"
#include "geometry/dense_matrix.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/object_pose.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_object.h"
#include "geometry/scene_presets.h"
#include "sound/contact_loudness.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"

double initialCameraRadius = 0;
double cameraPhi = 0;
double cameraTheta = 0;
double cameraFocus[3] = {0, 0, 0};
double maxCameraDistance = 0;
float impactMagnitude = 0, impactMagnitudeMin = 0, impactMagnitudeMax = 0;
float massDamping = 0, stiffnessDamping = 0;
float previousMassDamping = 0, previousStiffnessDamping = 0;
double lightIntensity = 0;
int lightEnabled[8] = {0, 0, 0, 0, 0, 0, 0, 0};
int groundConstraint = 0;
double nearPlane = 0.0, farPlane = 0.0;

namespace {

double loadedContactRoughness = kDefaultContactRoughness;

// The contact roughness as loud as a strike (sound/contact_loudness.h) for the bank of `modes`
// modes just loaded, at the preset damping and the program's default impact duration.
double matchedContactRoughness(int modes) {
    std::vector<double> gains(size_t(modes), 0.0), shapePower(size_t(modes), 0.0);
    omnidirectionalZepGains(transferModel, modeOmega, modes, gains.data());
    meanSquaredShapes(*modeShapes, shapePower.data());
    return loudnessMatchedRoughness(resonators, gains.data(), shapePower.data(), modes,
                                    kDefaultImpactFrames);
}

}  // namespace

double sceneContactRoughness() { return loadedContactRoughness; }

OrbitCamera* camera = nullptr;
ModeShapeMatrix* modeShapes = nullptr;
unsigned int floorList = 0;

void drawFloor() {
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 1);
    const GLfloat ambient[4] = {0.24f, 0.19607843f, 0.09568627f, 1.0f};
    const GLfloat diffuse[4] = {0.48f, 0.39215687f, 0.19137254f, 1.0f};
    const GLfloat specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 120.0f);
    glNormal3f(0.0f, 1.0f, 0.0f);
    glBegin(GL_QUADS);
    for (int i = 0; i < 100; ++i) {
        const double x0 = 0.3 * i - 15.0, x1 = 0.3 * (i + 1) - 15.0;
        for (int j = 0; j < 100; ++j) {
            const double z0 = 0.3 * j - 15.0, z1 = 0.3 * (j + 1) - 15.0;
            glVertex3d(x0, 0.0, z0);
            glVertex3d(x0, 0.0, z1);
            glVertex3d(x1, 0.0, z1);
            glVertex3d(x1, 0.0, z0);
        }
    }
    glEnd();
    glDisable(GL_POLYGON_OFFSET_FILL);
}

int loadModalData(const char* modeShapeFile, const char* frequencyFile, bool report) {
    // Mode shapes: 3 rows per vertex, one column per mode.
    int rows = 0, r = 0;
    double* elements = nullptr;
    loadDenseMatrixOrExit(modeShapeFile, &rows, &r, &elements);
    delete modeShapes;
    modeShapes = new ModeShapeMatrix(rows / 3, r, elements);
    free(elements);

    // Frequencies: an r x 1 column.
    int frequencyRows = 0, frequencyColumns = 0;
    double* frequencies = nullptr;
    loadDenseMatrixOrExit(frequencyFile, &frequencyRows, &frequencyColumns, &frequencies);
    checkEqualOrExit(frequencyColumns, 1, 0);
    checkEqualOrExit(frequencyRows, r, 1);

    // Angular frequencies and modal stiffnesses (unit modal mass); the per-mode arrays.
    allocateModeArrays(r);
    if (report) {
        printf("Num linear vibration modes is %d\n", r);
        printf("Frequencies [Hz]: ");
    }
    for (int i = 0; i < r; ++i) {
        if (report) printf("%G ", frequencies[i]);
        modeOmega[i] = frequencies[i] * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
    }
    if (report) printf("\n");
    free(frequencies);
    activeModeCount = r;

    // Resonators: Rayleigh damping c = alpha + beta omega^2 from the live coefficients.
    createResonators(massDamping, stiffnessDamping);
    return r;
}

void loadScene() {
    // The initial pose, published: the bell hangs at rest; the other objects sit at the origin.
    if (sceneSelector == kBellScene) {
        computeSwingPose(swingAngle, objectTranslation, objectRotation);
    } else {
        const ObjectPose identity = identityPose();
        memcpy(objectTranslation, identity.translation, sizeof(objectTranslation));
        memcpy(objectRotation, identity.rotation, sizeof(objectRotation));
    }
    publishObjectPose();

    // The build's preset becomes the live settings; the object scene's comes from its folder
    // (app/object_folder.h), opened before the window.
    const SceneParameters* presetOrNull = scenePreset(sceneSelector);
    if (sceneSelector == kObjectScene && !objectScenePresets.name.empty()) {
        presetOrNull = &objectScenePresets.parameters;
    }
    if (presetOrNull == nullptr) exit(1);
    const SceneParameters& preset = *presetOrNull;
    initialCameraRadius = preset.initialCameraRadius;
    cameraPhi = preset.cameraPhi;
    cameraTheta = preset.cameraTheta;
    for (int k = 0; k < 3; ++k) cameraFocus[k] = preset.cameraFocus[k];
    maxCameraDistance = preset.maxCameraDistance;
    impactMagnitude = preset.impactMagnitude;
    impactMagnitudeMin = preset.impactMagnitudeMin;
    impactMagnitudeMax = preset.impactMagnitudeMax;
    massDamping = previousMassDamping = preset.massDamping;
    stiffnessDamping = previousStiffnessDamping = preset.stiffnessDamping;
    modalRendererGain = preset.modalRendererGain;

    // Clipping planes follow the camera distance.
    nearPlane = nearPlaneFactor * initialCameraRadius;
    farPlane = farPlaneFactor * initialCameraRadius;

    // The camera, which publishes the listener.
    const double up[3] = {0.0, 1.0, 0.0};
    camera = new OrbitCamera(initialCameraRadius, cameraPhi * degreesToRadians,
                             cameraTheta * degreesToRadians, cameraFocus, up, cameraMotionScale);

    // The scene's data files.
    char meshFile[4096], modeShapeFile[4096], frequencyFile[4096], transferListFile[4096];
    snprintf(meshFile, sizeof(meshFile), "%s", preset.meshFile);
    snprintf(modeShapeFile, sizeof(modeShapeFile), "%s", preset.modeShapeFile);
    snprintf(frequencyFile, sizeof(frequencyFile), "%s", preset.frequencyFile);
    snprintf(transferListFile, sizeof(transferListFile), "%s", preset.transferListFile);

    // The struck object. The bell's file carries its own normals; the dragon is drawn from
    // the model every frame.
    mainObject = new SceneObject(meshFile);
    if (sceneSelector != kBellScene) mainObject->mesh.computeNormals(normalCreaseAngle);
    if (sceneSelector != kDragonScene) mainObject->mesh.buildDisplayList();
    mainObject->setPose(objectTranslation, objectRotation);

    // The bell's fixtures, and the floor of a scene that has one (the bell).
    if (sceneSelector == kBellScene) {
        yokeWoodObject = new SceneObject("bell/yoke-wood.obj");
        yokeWoodObject->mesh.computeNormals(normalCreaseAngle);
        yokeWoodObject->mesh.buildDisplayList();
        yokeMetalObject = new SceneObject("bell/yoke-metal.obj");
        yokeMetalObject->mesh.computeNormals(normalCreaseAngle);
        yokeMetalObject->mesh.buildDisplayList();
        supportsObject = new SceneObject("bell/supports.obj");
        supportsObject->mesh.computeNormals(normalCreaseAngle);
        supportsObject->mesh.buildDisplayList();
        yokeWoodObject->setPose(objectTranslation, objectRotation);
        yokeMetalObject->setPose(objectTranslation, objectRotation);
        supportsObject->setPose(objectTranslation, objectRotation);
    }
    if (preset.groundConstraint) {
        floorList = glGenLists(1);
        glNewList(floorList, GL_COMPILE);
        drawFloor();
        glEndList();
    }

    // Mode shapes, frequencies, the console report, the per-mode arrays and the resonators; the
    // audio block context sized with the bank.
    const int r = loadModalData(modeShapeFile, frequencyFile, true);
    programAudioContext.allocate(r);
    programAudioContext.contactShapes = modeShapes;

    // The transfer model: one entry per mode.
    transferModel = loadTransferModel(transferListFile);
    checkEqualOrExit(transferModel.frequencyCount, r, 20);
    loadedContactRoughness = matchedContactRoughness(r);

    // The renderer weights and the peak rings start at zero (allocateModeArrays zeroed
    // the weights).
    clearPeakRings();

    // Scene flags: the floor and the lights.
    groundConstraint = preset.groundConstraint;
    for (int i = 0; i < 8; ++i) lightEnabled[i] = preset.lightEnabled[i];
    lightIntensity = preset.lightIntensity;
}
