// What Esc does in the main window. A tool in use takes it first: placing
// ends; measuring forgets its points, then ends. Only then may Esc close the
// viewer, while "Esc closes the viewer" is on, and never within a second of
// an Esc a tool took: one press too many after leaving a tool must not
// throw the work away.
#pragma once
#include <cstdint>

enum class EscapeAction : uint8_t { kNothing, kEndPlacing, kForgetPoints, kEndMeasuring, kCloseViewer };

constexpr uint32_t kEscapeGraceMs = 1000;
constexpr uint32_t kNoToolEscape = 0xFFFFFFFF;

struct EscapeScene {
    bool placing;
    bool measuring;
    bool measurePoints;
    bool escapeCloses;           // the setting
    uint32_t msSinceToolEscape;  // since the last Esc a tool took (or one held back); kNoToolEscape for none
};

EscapeAction escapeAction(const EscapeScene& scene);
