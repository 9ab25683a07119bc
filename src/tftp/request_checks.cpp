#include "tftp/request_checks.h"

#include <algorithm>

#include "app/text_util.h"
#include "tftp/option_packets.h"
#include "tftp/tftp_packets.h"

namespace hx::tftp {
namespace {

constexpr const char* kMalformed = "Malformed name in PUT request";

// Takes the text from `from` up to the next zero byte and moves `from` past it; false when the datagram
// ends first.
bool TakeText(std::span<const std::uint8_t> datagram, size_t& from, std::string& out) {
  if (from > datagram.size()) return false;
  auto begin = datagram.begin() + static_cast<std::ptrdiff_t>(from);
  auto zero = std::find(begin, datagram.end(), std::uint8_t{0});
  if (zero == datagram.end()) return false;
  out.assign(begin, zero);
  from = static_cast<size_t>(zero - datagram.begin()) + 1;
  return true;
}

}  // namespace

std::uint16_t RequestOpcode(std::span<const std::uint8_t> datagram) {
  std::uint8_t bytes[2] = {0, 0};
  for (size_t i = 0; i < 2 && i < datagram.size(); ++i) bytes[i] = datagram[i];
  return ReadU16(bytes);
}

std::string RequestedName(std::span<const std::uint8_t> datagram) {
  size_t at = 2;
  std::string name;
  if (!TakeText(datagram, at, name)) return {};
  return name;
}

std::variant<Request, Rejection> ParseRequest(std::span<const std::uint8_t> datagram,
                                              std::string_view downloadDir) {
  size_t at = 2;
  std::string name;
  std::string mode;
  if (!TakeText(datagram, at, name) || !TakeText(datagram, at, mode))
    return Rejection{kErrIllegalOperation, kMalformed, {}};

  mode = ToLower(mode);
  if (mode != "netascii" && mode != "octet")
    return Rejection{kErrIllegalOperation, "Unknown transfer mode : " + mode, {}};
  TransferMode transferMode = mode == "netascii" ? TransferMode::Netascii : TransferMode::Octet;

  if (downloadDir.empty())
    return Rejection{kErrNotDefined, "Problem accessing upload/download directory",
                     "TFTP:Could not determine upload/download directory!\nAborting transfer!"};

  // Names written for the other platform's separator name the same subdirectories here.
  std::replace(name.begin(), name.end(), '\\', '/');

  std::string path(downloadDir);
  path += '/';  // also when the directory already ends in one: the runs are collapsed below
  if (path.size() + name.size() > kMaxPath)
    return Rejection{kErrNotDefined, "Filename exceeds maximum allowable path", {}};
  if (name.find("..") != std::string::npos)
    return Rejection{kErrAccessViolation, "Access denied for this directory", {}};
  if (name.find_first_of("*?<>|\"") != std::string::npos)
    return Rejection{kErrNotDefined, "Bad characters in filename. Aborting transfer", {}};
  // A name with a line break would break every reply and listing line that shows it.
  if (RequestOpcode(datagram) == kOpWrq && name.find_first_of("\r\n") != std::string::npos)
    return Rejection{kErrNotDefined, "Illegal file name", {}};

  path += name;
  auto end = std::unique(path.begin(), path.end(), [](char a, char b) { return a == '/' && b == '/'; });
  path.erase(end, path.end());
  return Request{std::move(path), transferMode, ParseRequestOptions(datagram.subspan(at))};
}

}  // namespace hx::tftp
