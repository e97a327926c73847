#include "app/escape_rule.h"

EscapeAction escapeAction(const EscapeScene& scene) {
    if (scene.placing) return EscapeAction::kEndPlacing;
    if (scene.measuring) return scene.measurePoints ? EscapeAction::kForgetPoints : EscapeAction::kEndMeasuring;
    if (!scene.escapeCloses || scene.msSinceToolEscape < kEscapeGraceMs) return EscapeAction::kNothing;
    return EscapeAction::kCloseViewer;
}
