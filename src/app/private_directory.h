#pragma once

#include <optional>
#include <string>

namespace hx {

// The folder TDLDir and FDLDir start with: the user's own folder "harbinex-UID" inside the temporary
// directory ($TMPDIR when it names an existing directory, else /tmp), created with mode 0700. The shared
// temporary directory itself is never served: any local user could plant links and files there, or take the
// folder's name before the program makes it, or after a cleaner removed it.
struct PrivateFolder {
  std::string path;   // ends in "/"
  std::string taken;  // the name that another user holds, when the folder is "harbinex-UID-N" instead
};

// True when the last component of `path` (a final "/" aside) is "harbinex-UID" or "harbinex-UID-N" of the
// program's user: such a folder is the program's own and is only ever used as OpenPrivateFolder allows.
bool IsPrivateFolder(const std::string& path);

// Makes the private folder `path` (mkdir, mode 0700) when it is missing and opens it without following a
// link. Only a directory owned by the program's user that nobody else may enter is taken; anything else under
// that name (a link, a file, another user's directory) is never used, and `taken` is then true. Returns the
// descriptor (O_RDONLY | O_DIRECTORY) or -1 with errno set.
int OpenPrivateFolder(const std::string& path, bool& taken);

// The private folder `wanted` (a private folder's name), or, while another user holds that name, the first
// "harbinex-UID-N" beside it (N from 1) that is free or already the program's own. nullopt when none can be
// made.
std::optional<PrivateFolder> SettlePrivateFolder(const std::string& wanted);

// "harbinex-UID" in the temporary directory (without a final "/"; nothing is made).
std::string DefaultPrivateFolder();

// The path of SettlePrivateFolder(DefaultPrivateFolder()).
std::optional<std::string> PrivateTransferDirectory();

}  // namespace hx
