#pragma once

#include <optional>
#include <string>

namespace hx {

// The directory rule of user profiles (and of the transfer directories of the settings): the path gets a
// trailing "/" when it has none, and must exist, be a directory and be writable, which is proven by creating
// and deleting a file in it. Returns the message that refuses the path, or nullopt when it is accepted; `dir`
// holds the path with its trailing "/" either way.
std::optional<std::string> CheckProfileDirectory(std::string& dir);

// "The directory DIR does not exist!" and the request to choose a valid one.
std::string MissingDirectoryMessage(const std::string& dir);

// A directory as a profile stores it: absolute (a relative one is taken from the working directory) and
// without
// "." or ".." parts. The server makes it the root of a session, which it compares as text with the paths it
// resolves beneath it; a trailing separator stays as it was given.
std::string NormalProfileDirectory(const std::string& dir);

}  // namespace hx
