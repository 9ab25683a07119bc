#pragma once

#include <QUrl>
#include <string>

namespace hx {

// The manual shipped with the program: manual.html beside the executable (the build puts it there), in
// ../share/doc/harbinex/ of an installation, or in the source tree the program was built from. Empty when
// none of them exists.
std::string FindManual(const std::string& executableDir);

// The project's home address: the build setting HX_HOME_URL, or, when that is empty, the manual itself, so
// the web command never opens a dead link. Empty when there is neither.
QUrl HomeUrl(const std::string& manualPath);

}  // namespace hx
