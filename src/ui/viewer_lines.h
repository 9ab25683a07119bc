#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

// The lines of a log or debug file for the output viewer, kept as one block of text and the start of each
// line, so that a file of a million lines costs two allocations instead of a million. A line ends at LF or
// CR LF, the terminators are not part of it, and a last line without a terminator is a line too.
class ViewerLines {
 public:
  ViewerLines() = default;
  explicit ViewerLines(std::string text);

  // Opens the file for reading (creating it when missing, truncating nothing) and takes its lines. False when
  // it cannot be opened.
  bool Load(const std::filesystem::path& path);

  size_t Count() const { return m_starts.size(); }
  std::string_view Line(size_t index) const;
  // The indexes of the `count` longest lines (by bytes), longest first; fewer when the file has fewer.
  std::vector<size_t> Longest(size_t count) const;

 private:
  void Index();

  std::string m_text;
  std::vector<std::uint64_t> m_starts;
};

}  // namespace hx
