// Fuzzes the request parser: any datagram, read only within its received length, gives a path inside the
// directory or a rejection with one of the program's codes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <variant>

#include "tftp/request_checks.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // A heap copy of exactly the received length, so that a read past it is caught.
  std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[size]);
  if (size) std::memcpy(datagram.get(), data, size);
  const std::string dir = "/srv/tftp/";
  auto result = hx::tftp::ParseRequest(std::span<const std::uint8_t>(datagram.get(), size), dir);
  if (auto* request = std::get_if<hx::tftp::Request>(&result)) {
    const std::string* path = &request->path;
    Check(path->compare(0, dir.size(), dir) == 0);
    Check(path->find("..") == std::string::npos);
    Check(path->find("//") == std::string::npos);
    Check(path->find('\\') == std::string::npos);
    Check(path->find_first_of(std::string("*?<>|\"\0", 7)) == std::string::npos);
    Check(path->size() <= hx::tftp::kMaxPath);
  } else {
    const auto& rejection = std::get<hx::tftp::Rejection>(result);
    Check(rejection.code == 0 || rejection.code == 2 || rejection.code == 4);
    Check(!rejection.text.empty());
  }
  (void)hx::tftp::RequestOpcode(std::span<const std::uint8_t>(datagram.get(), size));
  return 0;
}
