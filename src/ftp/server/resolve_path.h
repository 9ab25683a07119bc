#pragma once

#include <functional>
#include <string>

#include "app/rooted_file_system.h"

namespace hx::ftpd {

// How ResolvePath finishes a path once it lies inside the root.
enum class PathMode {
  Directory,  // CWD, CDUP, RMD: must be an existing directory, gets a final "/"; leaving the root gives the
              // root
  Existing,   // RNFR: must exist
  List,       // LIST, NLST, STAT: an existing directory becomes the pattern "dir/*.*"
  Plain,      // everything else: only kept inside the root
};

enum class PathKind { Missing, File, Directory };
// Tells what is at a local path; the server passes the file system, tests a table.
using PathProbe = std::function<PathKind(const std::string& path)>;

// The error texts that a failed resolution leaves in the path; kNotADirectory follows the path as the client
// sees it (ShownPath), never the local one.
inline constexpr const char* kAccessDenied = "Access to directory denied";
inline constexpr const char* kNoSuchDirectory = "No such file or directory.";
inline constexpr const char* kNotADirectory = " is not a directory!";
inline constexpr const char* kNoSuchFile = "Filename does not exist";

// Maps a client's path onto a local path inside the session's root, rewriting `path` in place: on success it
// holds the local path, on failure an error text. `root` and `current` are local directories written with
// "/" and ending in "/"; the client's "/" is the root. Every "\" counts as "/", doubled separators, "/./" and
// a final "." collapse, and every ".." (also inside a name such as "a..b") steps up one level; a path that
// would leave the root is refused ("Access to directory denied"), or in Directory mode yields the root. A
// path holding a NUL byte is refused in every mode, since no file name can hold one.
bool ResolvePath(std::string& path, PathMode mode, const std::string& root, const std::string& current,
                 const PathProbe& probe);

// A local path inside `root` as the client sees it: the root is "/", so "/srv/ftp/sub/" of the root
// "/srv/ftp/" is "/sub/".
std::string ShownPath(const std::string& path, const std::string& root);

// The file system's answer for a local path (stat beneath the root, following links that stay inside it).
PathKind ProbePath(const RootedFileSystem& files, const std::string& path);

// True when `path` is the root without its final character or begins with the whole root; byte for byte.
bool IsInsideRoot(const std::string& path, const std::string& root);

}  // namespace hx::ftpd
