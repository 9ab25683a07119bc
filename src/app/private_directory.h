#pragma once

#include <optional>
#include <string>

namespace hx {

// The folder TDLDir and FDLDir start with: the user's own folder "harbinex-UID" inside the temporary
// directory ($TMPDIR when it names an existing directory, else /tmp), created with mode 0700. The shared
// temporary directory itself is never served: any local user could plant links and files there. A name
// that is taken by a link, by something other than a directory or by another user's directory is refused
// (nullopt). The result ends in "/".
std::optional<std::string> PrivateTransferDirectory();

}  // namespace hx
