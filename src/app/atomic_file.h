#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hx {

// Reads a whole file. Returns nullopt when it does not exist or cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Rewrites a file whole: `edit` gets the current content (empty when the file is missing) and returns the new
// content, which goes to a temporary file in the same directory that then replaces the original by rename.
// The read-edit-write runs under one process-wide lock, so two writers in this process never lose each
// other's change, and a reader (in any process) sees either the old or the new file, never half of one.
// Returns false when the new content could not be written; the original is then untouched.
bool RewriteFileAtomically(const std::filesystem::path& path,
                           const std::function<std::string(const std::string& current)>& edit);

}  // namespace hx
