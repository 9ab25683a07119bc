#include "ftp/server/info_replies.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace hx::ftpd {

const std::array<const char*, 31> kHelpLines = {
    "214-USER\tEnter user name\r\n",
    "PASS\tSend Password\r\n",
    "CWD\tChange working directory\r\n",
    "CDUP\tGo to parent directory\r\n",
    "QUIT\tExit FTP server\r\n",
    "REIN\tReinitialize server\r\n",
    "PORT\tSet port for data transfer\r\n",
    "TYPE\tSet file transfer type\r\n",
    "STRU\tSet file transfer structure\r\n",
    "MODE\tSet file transfer mode\r\n",
    "RETR\tRetrieve file\r\n",
    "STOR\tStore file\r\n",
    "APPE\tAppend to existing file\r\n",
    "REST\tRestart file transfer\r\n",
    "RNFR\tRename from\r\n",
    "RNTO\tRename to\r\n",
    "ABOR\tAbort transfer\r\n",
    "DELE\tDelete file\r\n",
    "RMD\tRemove directory\r\n",
    "MKD\tMake directory\r\n",
    "PWD\tPrint working directory\r\n",
    "LIST\tList files\r\n",
    "NLST\tName list\r\n",
    "SYST\tSystem type\r\n",
    "STAT\tStatus\r\n",
    "HELP\tYou are looking at it\r\n",
    "NOOP\tNo command\r\n",
    "MDTM\tFile modification time\r\n",
    "SIZE\tFile size\r\n",
    "FEAT\tFeature list\r\n",
    "214 Help command successful\r\n",
};

std::vector<std::string> FeatLines(bool passive, std::string_view mlstFacts, HashAlgorithm hash, bool tls) {
  std::vector<std::string> lines = {"211- Feature listing\r\n"};
  if (tls) lines.insert(lines.end(), {"AUTH TLS\r\n", "PBSZ\r\n", "PROT\r\n"});
  lines.insert(lines.end(), {"MDTM\r\n", "SIZE\r\n", "REST STREAM\r\n", "EPRT\r\n", "EPSV\r\n"});
  if (passive) lines.push_back("PASV\r\n");
  lines.push_back("MLST " + std::string(mlstFacts) + "\r\n");
  lines.push_back("UTF8\r\n");
  lines.push_back("MFMT\r\n");
  lines.push_back(HashFeatureLine(hash));
  // Every feature line begins with a space (RFC 2389): clients that hold to it skip any other line.
  for (size_t i = 1; i < lines.size(); ++i) lines[i].insert(0, " ");
  lines.push_back("211 End\r\n");
  return lines;
}

std::array<std::string, 6> StatusLines(std::string_view peerAddress, std::string_view user, char type) {
  return {
      "211- System status:\r\n",
      "Harbinex version 1.1\r\n",
      FormatReply("Connected to : %s\r\n", peerAddress),
      FormatReply("Logged in as : %s\r\n", user),
      FormatReply("Type: %s, STRUcture: FILE, MODE: STREAM\r\n", type == 'A' ? "ASCII" : "BINARY"),
      "211 End of status\r\n",
  };
}

// Unix clients switch to binary transfers by default only when the system is named so.
std::string SystemReply() {
  return "215 UNIX Type: L8\r\n";
}

std::string TypeReply(std::string_view argument, char& type) {
  char first = argument.empty() ? '\0' : argument.front();
  switch (first) {
    case 'A':
      type = 'A';
      return "200 Type set to A.\r\n";
    case 'I':
      type = 'I';
      return "200 Type set to I.\r\n";
    case 'E':
      return "504 Type EBCDIC not supported\r\n";
    default:
      return "504 Command not implemented for that parameter\r\n";
  }
}

std::string ModeReply(std::string_view argument) {
  return !argument.empty() && argument.front() == 'S' ? "200 Command OK. Current mode is stream\r\n"
                                                      : "504 Only stream mode is supported\r\n";
}

std::string StruReply(std::string_view argument) {
  return !argument.empty() && argument.front() == 'F' ? "200 Command OK. Current mode is File\r\n"
                                                      : "504 FILE is only structure type supported\r\n";
}

std::string FormatMdtmTime(std::time_t modified) {
  std::tm utc{};
  gmtime_r(&modified, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

std::uint64_t CountAsciiBytes(std::string_view block) {
  // Eight bytes at a time, as SIZE in type A reads whole files: a byte of `word ^ kLf` is zero exactly where
  // the byte is an LF, and its high bit in `~(((x & 0x7f..) + 0x7f..) | x)` is set exactly for a zero byte
  // (no carry crosses a byte).
  constexpr std::uint64_t kLow = 0x7f7f7f7f7f7f7f7fULL;
  constexpr std::uint64_t kLf = 0x0a0a0a0a0a0a0a0aULL;
  std::uint64_t lineFeeds = 0;
  size_t at = 0;
  for (; at + 8 <= block.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, block.data() + at, sizeof word);
    std::uint64_t x = word ^ kLf;
    lineFeeds += static_cast<std::uint64_t>(std::popcount(~(((x & kLow) + kLow) | x) & ~kLow));
  }
  lineFeeds += static_cast<std::uint64_t>(
      std::count(block.begin() + static_cast<std::ptrdiff_t>(at), block.end(), '\n'));
  return block.size() + lineFeeds;
}

std::string NameForReply(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (char c : name) {
    if (c == '\r') {
      shown += '\r';
      shown += '\0';
    } else {
      shown += c == '\n' ? '?' : c;
    }
  }
  return shown;
}

std::string FormatReply(const char* format, std::string_view value) {
  std::string_view text(format);
  size_t at = text.find("%s");
  if (at == std::string_view::npos) return std::string(text);
  std::string result(text.substr(0, at));
  result.append(value).append(text.substr(at + 2));
  return result;
}

}  // namespace hx::ftpd
