#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

// Splits text into lines for the output viewer: a line ends at LF or CR LF, the terminators are not part of
// the line, and a last line without a terminator is a line too.
std::vector<std::string> SplitViewerLines(std::string_view text);

// Opens the file for the viewer (created when missing, never truncated) and returns its lines; nullopt
// when it cannot be opened.
std::optional<std::vector<std::string>> ReadViewerLines(const std::filesystem::path& path);

}  // namespace hx
