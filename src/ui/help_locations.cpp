#include "ui/help_locations.h"

#include <filesystem>

#ifndef HX_HOME_URL
#define HX_HOME_URL ""
#endif
#ifndef HX_SOURCE_MANUAL
#define HX_SOURCE_MANUAL ""
#endif

namespace hx {

std::string FindManual(const std::string& executableDir) {
  namespace fs = std::filesystem;
  fs::path exe(executableDir);
  for (const fs::path& candidate :
       {exe / "manual.html", exe / ".." / "share" / "doc" / "harbinex" / "manual.html",
        fs::path(HX_SOURCE_MANUAL)}) {
    std::error_code error;
    if (!candidate.empty() && fs::is_regular_file(candidate, error))
      return fs::weakly_canonical(candidate, error).string();
  }
  return {};
}

QUrl HomeUrl(const std::string& manualPath) {
  QString configured = QStringLiteral(HX_HOME_URL);
  if (!configured.isEmpty()) return QUrl(configured);
  if (manualPath.empty()) return {};
  return QUrl::fromLocalFile(QString::fromStdString(manualPath));
}

}  // namespace hx
