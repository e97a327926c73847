#include <gtest/gtest.h>

#include "view/frame_pacing.h"

// Frames in order, each drawn in the form chosen for it and taking the time
// given: what the next frame's form is, and whether the screen then needs a
// full frame once the input stops.
TEST(FramePacing, ASlowFrameSendsTheNextMovingFramesToACheaperForm) {
    const struct Step {
        const char* what;
        bool interacting;
        bool singleSampleDrawable;
        FrameForm expected;
        uint32_t takes;
        bool fullFrameOwed;
    } steps[] = {
        {"a still model: full", false, true, kFormFull, 90, false},
        {"moving, fast enough: full", true, true, kFormFull, 150, false},  // at the limit still full
        {"still full, now slow", true, true, kFormFull, 151, false},
        {"the next moving frame: one sample", true, true, kFormSingleSample, 40, true},
        {"and stays there while fast", true, true, kFormSingleSample, 160, true},
        {"one sample slow too: the box", true, true, kFormBox, 2, true},
        {"the box while moving", true, true, kFormBox, 2, true},
        {"input stops: the full frame", false, true, kFormFull, 900, false},
        {"moving again: straight to the box", true, true, kFormBox, 1, true},
        {"still again: full, measured anew", false, true, kFormFull, 100, false},
        {"the full form is fast again", true, true, kFormFull, 100, false},
    };
    FramePacing pacing;
    resetFramePacing(&pacing);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        FrameForm form = chooseFrameForm(&pacing, step.interacting, step.singleSampleDrawable);
        EXPECT_EQ(form, step.expected);
        recordFrame(&pacing, form, step.takes);
        EXPECT_EQ(needsFullFrame(&pacing), step.fullFrameOwed);
    }
}

// Where one sample cannot be drawn (a multisampled swap chain) a slow full
// frame goes straight to the box; a reset forgets every measurement.
TEST(FramePacing, WithoutTheSingleSampleFormTheBoxFollowsAndAResetForgets) {
    FramePacing pacing;
    resetFramePacing(&pacing);
    recordFrame(&pacing, kFormFull, 5000);
    EXPECT_EQ(chooseFrameForm(&pacing, true, false), kFormBox);
    EXPECT_EQ(chooseFrameForm(&pacing, true, true), kFormSingleSample);
    EXPECT_EQ(chooseFrameForm(&pacing, false, false), kFormFull);
    recordFrame(&pacing, kFormBox, 0);  // under a millisecond still counts as measured
    EXPECT_EQ(pacing.lastMs[kFormBox], 1u);
    resetFramePacing(&pacing);
    EXPECT_EQ(chooseFrameForm(&pacing, true, false), kFormFull);
    EXPECT_FALSE(needsFullFrame(&pacing));
}
