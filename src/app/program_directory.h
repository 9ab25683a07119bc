#pragma once

#include <optional>
#include <string>

namespace hx {

// Where the program keeps "Harbinex.ini", "Harbinex.log", "Harbinex.dbg" and "Harbinex.pwd": the folder of
// --dir when given; otherwise the executable's own folder, as a build folder or an unpacked copy has always
// used; but an installed program cannot (or, run by root, must not) write beside itself, so it keeps them in
// the user's configuration folder, $XDG_CONFIG_HOME/harbinex, or ~/.config/harbinex when that variable is
// unset or not an absolute path. `installed` says which of the last two applies; `xdgConfigHome` and `home`
// may be null. Returns nullopt when the configuration folder is needed and neither variable names one. The
// result ends in "/".
std::optional<std::string> ChooseProgramDirectory(const std::optional<std::string>& dirOption,
                                                  const std::string& executableDir, bool installed,
                                                  const char* xdgConfigHome, const char* home);

// Whether the executable in `executableDir` is an installed program: its folder is not writable by this
// process, or it is one of the system's program folders (/usr/bin and the like), which root could write.
bool IsInstalledProgram(const std::string& executableDir);

// The program directory of this process: ChooseProgramDirectory with the executable's folder and the
// environment (the password database's home folder when HOME is unset).
std::optional<std::string> ProgramDirectory(const std::optional<std::string>& dirOption);

// Creates `dir` and every missing folder above it with mode 0700, as the configuration folders of a user
// are made; a folder that exists is left as it is. False with errno set when one cannot be made.
bool CreatePrivateFolders(const std::string& dir);

}  // namespace hx
