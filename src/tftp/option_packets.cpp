#include "tftp/option_packets.h"

#include <algorithm>
#include <charconv>

#include "app/text_util.h"

namespace hx::tftp {
namespace {

constexpr size_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4

// Calls `take(name, value)` for each complete pair; false when the pairs do not end in a zero byte.
template <class Take>
bool ForEachPair(std::span<const std::uint8_t> pairs, Take take) {
  std::string_view text(reinterpret_cast<const char*>(pairs.data()), pairs.size());
  while (!text.empty()) {
    size_t nameEnd = text.find('\0');
    if (nameEnd == std::string_view::npos) return false;
    size_t valueEnd = text.find('\0', nameEnd + 1);
    if (valueEnd == std::string_view::npos) return false;
    take(ToLower(std::string(text.substr(0, nameEnd))), text.substr(nameEnd + 1, valueEnd - nameEnd - 1));
    text.remove_prefix(valueEnd + 1);
  }
  return true;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The value within [low, high], a larger one asking for `high`; nullopt below `low` or when no number.
std::optional<int> Ranged(std::string_view text, int low, int high) {
  std::optional<std::uint64_t> value = Number(text);
  if (!value || *value < static_cast<std::uint64_t>(low)) return std::nullopt;
  return static_cast<int>(std::min<std::uint64_t>(*value, static_cast<std::uint64_t>(high)));
}

// The value within [low, high]; nullopt outside it or when no number.
std::optional<int> Within(std::string_view text, int low, int high) {
  std::optional<std::uint64_t> value = Number(text);
  if (!value || *value < static_cast<std::uint64_t>(low) || *value > static_cast<std::uint64_t>(high))
    return std::nullopt;
  return static_cast<int>(*value);
}

void AppendText(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

void AppendOptions(std::vector<std::uint8_t>& out, const TftpOptions& options) {
  auto pair = [&](const char* name, std::uint64_t value) {
    AppendText(out, name);
    AppendText(out, std::to_string(value));
  };
  if (options.blockSize) pair("blksize", static_cast<std::uint64_t>(*options.blockSize));
  if (options.timeoutSeconds) pair("timeout", static_cast<std::uint64_t>(*options.timeoutSeconds));
  if (options.transferSize) pair("tsize", *options.transferSize);
  if (options.windowSize) pair("windowsize", static_cast<std::uint64_t>(*options.windowSize));
}

}  // namespace

TftpOptions ParseRequestOptions(std::span<const std::uint8_t> pairs) {
  TftpOptions options;
  // A request cut short keeps the options that came whole.
  ForEachPair(pairs, [&](const std::string& name, std::string_view value) {
    if (name == "blksize")
      options.blockSize = Ranged(value, kMinBlockSize, kMaxBlockSize);
    else if (name == "windowsize")
      options.windowSize = Ranged(value, kMinWindowSize, kMaxWindowSize);
    else if (name == "timeout")
      options.timeoutSeconds = Within(value, kMinTimeoutSeconds, kMaxTimeoutSeconds);
    else if (name == "tsize")
      options.transferSize = Number(value);
  });
  return options;
}

std::optional<TftpOptions> CheckOack(std::span<const std::uint8_t> pairs, const TftpOptions& asked) {
  TftpOptions granted;
  bool valid = true;
  bool whole = ForEachPair(pairs, [&](const std::string& name, std::string_view text) {
    std::optional<std::uint64_t> value = Number(text);
    if (!value) {
      valid = false;
    } else if (name == "blksize" && asked.blockSize && *value >= kMinBlockSize &&
               *value <= static_cast<std::uint64_t>(*asked.blockSize)) {
      granted.blockSize = static_cast<int>(*value);
    } else if (name == "windowsize" && asked.windowSize && *value >= kMinWindowSize &&
               *value <= static_cast<std::uint64_t>(*asked.windowSize)) {
      granted.windowSize = static_cast<int>(*value);
    } else if (name == "timeout" && asked.timeoutSeconds &&
               *value == static_cast<std::uint64_t>(*asked.timeoutSeconds)) {
      granted.timeoutSeconds = static_cast<int>(*value);
    } else if (name == "tsize" && asked.transferSize) {
      granted.transferSize = *value;
    } else {
      valid = false;
    }
  });
  if (!whole || !valid) return std::nullopt;
  return granted;
}

std::vector<std::uint8_t> BuildOack(const TftpOptions& granted) {
  std::vector<std::uint8_t> out{0, static_cast<std::uint8_t>(kOpOack)};
  AppendOptions(out, granted);
  return out;
}

std::vector<std::uint8_t> BuildOptionRequest(Opcode opcode, std::string_view name, std::string_view mode,
                                             const TftpOptions& options) {
  std::vector<std::uint8_t> out{0, static_cast<std::uint8_t>(opcode)};
  AppendText(out, name);
  AppendText(out, mode);
  AppendOptions(out, options);
  if (out.size() > kMaxDatagram) out.clear();
  return out;
}

TftpOptions GrantOptions(const TftpOptions& asked, const OptionLimits& limits, bool read, bool netascii,
                         std::uint64_t fileSize) {
  TftpOptions granted;
  if (asked.blockSize)
    granted.blockSize =
        std::min(*asked.blockSize, std::clamp(limits.maxBlockSize, kMinBlockSize, kMaxBlockSize));
  if (asked.windowSize)
    granted.windowSize =
        std::min(*asked.windowSize, std::clamp(limits.maxWindowSize, kMinWindowSize, kMaxWindowSize));
  granted.timeoutSeconds = asked.timeoutSeconds;
  if (asked.transferSize) {
    if (!read)
      granted.transferSize = asked.transferSize;
    else if (!netascii)
      granted.transferSize = fileSize;
  }
  return granted;
}

std::string OptionsText(const TftpOptions& options) {
  std::string text;
  auto add = [&](const char* name, std::uint64_t value) {
    if (!text.empty()) text += ", ";
    text += name;
    text += ' ';
    text += std::to_string(value);
  };
  if (options.blockSize) add("blksize", static_cast<std::uint64_t>(*options.blockSize));
  if (options.windowSize) add("windowsize", static_cast<std::uint64_t>(*options.windowSize));
  if (options.transferSize) add("tsize", *options.transferSize);
  if (options.timeoutSeconds) add("timeout", static_cast<std::uint64_t>(*options.timeoutSeconds));
  return text;
}

}  // namespace hx::tftp
