#pragma once
// Renders every page, dialog and window into PNG files, so that a change to
// the windows can be looked at (scripts/screenshots.sh).
#include <QString>

namespace vx::ui {

// Returns 0 when every picture was written.
int RenderScreenshots(const QString& folder);

}  // namespace vx::ui
