#include "view/frame_pacing.h"

void resetFramePacing(FramePacing* pacing) {
    for (uint32_t& ms : pacing->lastMs) ms = 0;
    pacing->shownForm = kFormFull;
}

FrameForm chooseFrameForm(const FramePacing* pacing, bool interacting, bool singleSampleDrawable) {
    if (!interacting) return kFormFull;
    if (pacing->lastMs[kFormFull] <= kSlowFrameMs) return kFormFull;
    if (singleSampleDrawable && pacing->lastMs[kFormSingleSample] <= kSlowFrameMs) return kFormSingleSample;
    return kFormBox;
}

void recordFrame(FramePacing* pacing, FrameForm form, uint32_t milliseconds) {
    // 0 means "not measured": a frame faster than a millisecond counts as one.
    pacing->lastMs[form] = milliseconds ? milliseconds : 1;
    pacing->shownForm = form;
}

bool needsFullFrame(const FramePacing* pacing) {
    return pacing->shownForm != kFormFull;
}
