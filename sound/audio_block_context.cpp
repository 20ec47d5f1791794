// The audio block's context: construction and sizing.
#include "sound/audio_block_context.h"

#include "sound/vector_lanes.h"

// The program's context is constructed during static initialisation, when the published listener
// and pose of other files may not be yet: the constructor leaves them alone.
AudioBlockContext::AudioBlockContext() : useAvx2Lanes(processorHasAvx2()) {
    modeLevels.allocate(0);
}

void AudioBlockContext::allocate(int modeCount) {
    if (modeCount < 0) modeCount = 0;
    modalBankLanes = ModalBankLanes(modeCount);
    modeMask.allocate(modeCount);
    modeLevels.allocate(modeCount);
    for (int ear = 0; ear < 2; ++ear) {
        binauralImag[ear].assign(modeCount, 0.0);
        binauralImagPrevious[ear].assign(modeCount, 0.0);
    }
    lastBlockBinaural = false;
    movingContact.allocate(modeCount, kMaxContactBlockFrames);
    publishedContact.store(ContactSetting{});
    blockContact = ContactSetting{};
    blockListener = publishedListener.load();
    blockPose = publishedObjectPose.load();
}
