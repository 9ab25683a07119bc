#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/server/hash_algorithm.h"

namespace hx::ftpd {

// HELP: 31 reply lines, each sent on its own.
extern const std::array<const char*, 31> kHelpLines;
// FEAT: the reply lines, each sent on its own; PASV is listed only when passive mode is on, AUTH TLS, PBSZ
// and PROT only when TLS is. `mlstFacts` is the MLST line's list ("type*;size*;..."), and HASH marks the
// session's digest.
std::vector<std::string> FeatLines(bool passive, std::string_view mlstFacts,
                                   HashAlgorithm hash = HashAlgorithm::Sha256, bool tls = false);

// STAT without an argument: the six lines of the session's status.
std::array<std::string, 6> StatusLines(std::string_view peerAddress, std::string_view user, char type);

// "215 %s L8" with the platform family; this platform maps onto none of the known ones.
std::string SystemReply();

// TYPE by the first character of its argument (case-sensitive); `type` changes for 'A' and 'I' only.
std::string TypeReply(std::string_view argument, char& type);
std::string ModeReply(std::string_view argument);
std::string StruReply(std::string_view argument);

// MDTM's time: "%Y%m%d%H%M%S" in UTC.
std::string FormatMdtmTime(std::time_t modified);

// The size of a file with every LF sent as CR LF: each byte counts 1, each LF 1 more.
std::uint64_t CountAsciiBytes(std::string_view block);

// A file name as it may appear in a reply or a listing line: a CR is sent as CR NUL (as in RFC 2640) and an
// LF as "?", so that no name can end a line (and with it a reply) early.
std::string NameForReply(std::string_view name);

// "%s" filled into a reply format (a format holds at most one "%s").
std::string FormatReply(const char* format, std::string_view value);

}  // namespace hx::ftpd
