#include "app/text_lines.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/atomic_file.h"
#include "app/program_file.h"
#include "app/transfer_log.h"

namespace hx {

std::vector<std::string> SplitViewerLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::optional<std::vector<std::string>> ReadViewerLines(const std::filesystem::path& path) {
  // A missing file is created as the log would create it; nothing is truncated.
  mode_t mode = path.extension() == ".log" ? kLogFileMode : kDebugFileMode;
  int fd = OpenProgramFile(path, O_RDONLY | O_CREAT, mode);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  auto content = ReadWholeFile(path);
  if (!content) return std::nullopt;
  return SplitViewerLines(*content);
}

}  // namespace hx
