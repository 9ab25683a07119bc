#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace hx::ftpc {

// Connects to an FTPS server, explicit (greeting, AUTH TLS) or implicit, only as far as the handshake, and
// returns its certificate's fingerprint ("SHA256:AB:..."), for a user who decides whether to trust it. Blocks
// for at most `limit`; nullopt with `error` (what failed, for a message box) otherwise.
std::optional<std::string> ProbeCertificate(const std::string& host, std::uint16_t port, bool implicit,
                                            std::chrono::seconds limit, std::string& error);

}  // namespace hx::ftpc
