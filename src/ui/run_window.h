#pragma once

#include <string>

#include "app/server_app.h"

namespace hx {

// True when a window can be shown: a display is named (DISPLAY or WAYLAND_DISPLAY), or a Qt platform is
// chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen).
bool WindowAvailable();

}  // namespace hx

// Runs the program with its window: the core started under the window, the event loop, then the core's
// shut-down. `appDir` is the program directory; `services` are the listeners of both services. Returns the
// exit code.
int RunWindow(int argc, char** argv, const std::string& appDir, hx::ServerApp::Services services);
