// The audio block's context: construction and sizing.
#include "sound/audio_block_context.h"

#include "sound/vector_lanes.h"

AudioBlockContext::AudioBlockContext() : useAvx2Lanes(processorHasAvx2()) { allocate(0); }

void AudioBlockContext::allocate(int modeCount) {
    if (modeCount < 0) modeCount = 0;
    modalBankLanes = ModalBankLanes(modeCount);
    modeMask.allocate(modeCount);
    modeLevels.allocate(modeCount);
}
