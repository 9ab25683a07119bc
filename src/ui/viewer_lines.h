#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

// The lines of a log or debug file for the output viewer, kept as one block of text and the start of each
// line, so that a file of a million lines costs two allocations instead of a million. A line ends at LF or
// CR LF, the terminators are not part of it, and a last line without a terminator is a line too (it may
// still grow when the file does).
class ViewerLines {
 public:
  ViewerLines() = default;
  explicit ViewerLines(std::string text);

  // Opens the file for reading (creating it when missing, truncating nothing) and takes its lines. False when
  // it cannot be opened.
  bool Load(const std::filesystem::path& path);

  size_t Count() const { return m_starts.size(); }
  // The bytes taken so far, terminators included.
  size_t Bytes() const { return m_text.size(); }
  std::string_view Line(size_t index) const;
  // The indexes of the `count` longest lines (by bytes) from `from` on, longest first; fewer when the file
  // has fewer.
  std::vector<size_t> Longest(size_t count, size_t from = 0) const;

  // Whether the last line has no terminator yet, so that bytes appended continue it.
  bool LastLineOpen() const { return !m_text.empty() && m_text.back() != '\n'; }
  // The count of lines once `more` is appended; lets a model announce its rows before they change.
  size_t CountAfter(std::string_view more) const;
  // Takes bytes the file gained at its end.
  void Append(std::string_view more);

  // The lines from `from` on that hold `needle`, in order. The text is taken as Latin-1, as the viewer shows
  // it; without `caseSensitive` the letters of Latin-1 match either case. An empty needle finds nothing.
  std::vector<size_t> Find(std::string_view needle, bool caseSensitive, size_t from = 0) const;
  // The lines among `lines` that hold `needle`: an earlier search narrowed to a longer needle as it is typed.
  std::vector<size_t> FindAmong(std::string_view needle, bool caseSensitive,
                                const std::vector<size_t>& lines) const;

 private:
  // Finds the line starts in the text from byte `offset` on, which begins a line.
  void Index(size_t offset);

  std::string m_text;
  std::vector<std::uint64_t> m_starts;
};

// What a file holds past its first `offset` bytes; nullopt when it cannot be opened or is now shorter than
// `offset` (it was rewritten, and must be read again whole). With `create` a missing file is created empty.
std::optional<std::string> ReadFileFrom(const std::filesystem::path& path, size_t offset, bool create);

}  // namespace hx
