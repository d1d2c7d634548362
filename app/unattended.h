#pragma once

#include "startup.h"

#include <ostream>

namespace wfb {

// Whether the environment names a place to show a window: an X or Wayland display, or a Qt
// platform chosen explicitly.
bool displayAvailable();

// The unattended run where no window can be shown (cron, a systemd timer): the create-time
// sequence and the send action run as with a window, every failure that would have shown the
// error box is written to errors as one line "wiegenfestbote: <message>", and nothing of the GUI
// is started. Returns the exit status: 0 when nothing failed, 1 when anything did.
int runWithoutWindow(StartupEnvironment environment, std::ostream& errors);

// The failure's text as one line on stderr.
void reportLine(std::ostream& errors, const std::string& message);

} // namespace wfb
