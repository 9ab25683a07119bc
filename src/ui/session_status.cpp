#include "ui/session_status.h"

#include <array>

namespace hx {
namespace {

enum class Match { Whole, Start, End };

struct StatusText {
  Match match;
  std::string_view text;
};

// The Status texts of failed sessions, as the TFTP and FTP sessions and clients set them. Where a session
// adds a variable part (a socket error text, a path, a number), the fixed part is matched.
constexpr std::array kFailures = {
    // TFTP requests refused and transfers broken off, server and client.
    StatusText{Match::Whole, "Malformed name in PUT request"},
    StatusText{Match::Start, "Unknown transfer mode : "},
    StatusText{Match::Whole, "Problem accessing upload/download directory"},
    StatusText{Match::Whole, "Transfer folder is missing"},
    StatusText{Match::Whole, "Filename exceeds maximum allowable path"},
    StatusText{Match::Whole, "Access denied for this directory"},
    StatusText{Match::Whole, "Bad characters in filename. Aborting transfer"},
    StatusText{Match::Whole, "File access error"},
    StatusText{Match::Whole, "File was not found. Aborting transfer"},
    StatusText{Match::Whole, "Cannot GET a directory!"},
    StatusText{Match::Whole, "Unable to access file. Aborting"},
    StatusText{Match::Whole, "User asked to overwrite an existing file! Access denied!"},
    StatusText{Match::Whole, "Failed to open file for receiving. Aborting"},
    StatusText{Match::Whole, "Failed to open file for receiving. Aborting."},
    StatusText{Match::Whole, "Not allowed to create directories!"},
    StatusText{Match::Start, "Could not create the directory "},
    StatusText{Match::End, " is not a directory!"},
    StatusText{Match::Whole, "Option negotiation failed"},
    StatusText{Match::Whole, "Unknown packet received. Aborting!"},
    StatusText{Match::Whole, "Unknown packet type. Aborting"},
    StatusText{Match::Whole, "Disk full or allocation exceeded"},
    StatusText{Match::Whole, "Connection closed by peer!"},
    StatusText{Match::Whole, "Connection closed by peer"},
    StatusText{Match::Start, "Error received from peer: "},
    StatusText{Match::Start, "Received error code from peer. Aborting. Error = "},
    StatusText{Match::Start, "Got socket error. Aborting! Code = "},
    StatusText{Match::Start, "Socket Error. Error = "},
    StatusText{Match::Whole, "No more retries left. Aborting"},
    StatusText{Match::Whole, "Could not create socket"},
    StatusText{Match::Start, "Error sending : "},
    StatusText{Match::Start, "Error connecting to host : "},
    StatusText{Match::Start, "Error receiving : "},
    StatusText{Match::Start, "Error receiving response from host : "},
    // A failed send shows the socket error text alone; every one of them starts with its number in brackets.
    StatusText{Match::Start, "["},
    // The FTP server: replies that end the connection or report a broken transfer, and a failed write.
    StatusText{Match::Whole, "421 Too many connections, try again later"},
    StatusText{Match::Whole, "421 Timeout."},
    StatusText{Match::Whole, "421 Too many failed logins."},
    StatusText{Match::Whole, "425 Can't open data connection"},
    StatusText{Match::Whole, "426 Transfer terminated abnormally"},
    StatusText{Match::Whole, "451 Requested action aborted - File error"},
    StatusText{Match::Start, "451 Couldn't create socket: "},
    StatusText{Match::Start, "451 Couldn't set socket options: "},
    StatusText{Match::Start, "451 Couldn't bind socket to data port: "},
    StatusText{Match::Start, "451 Couldn't connect: "},
    StatusText{Match::Start, "Error writing to socket: "},
    // The FTP client.
    StatusText{Match::Whole, "Unable to open local file"},
    StatusText{Match::Start, "Unable to connect to host : "},
    StatusText{Match::Start, "Unable to create socket : "},
    StatusText{Match::Start, "Unable to create data socket : "},
    StatusText{Match::Start, "Unable to connect data socket : "},
    StatusText{Match::Start, "Unable to set data socket to non-blocking : "},
    StatusText{Match::Start, "Unable to listen on data socket : "},
    StatusText{Match::Start, "Error reading from socket: "},
    StatusText{Match::Whole, "Reply too long"},
    StatusText{Match::Start, "No data port in the reply: "},
    StatusText{Match::Start, "Error writing local file: "},
    StatusText{Match::Start, "Error reading local file: "},
    StatusText{Match::Whole, "Error: the session failed unexpectedly"},
    // The operator's actions from the row.
    StatusText{Match::Whole, "Transfer cancelled by the operator"},
    StatusText{Match::Whole, "426 Transfer aborted by the operator"},
    StatusText{Match::Whole, "421 Disconnected by the operator"},
};

// Texts of sessions and transfers that ended well.
constexpr std::array kSuccesses = {
    StatusText{Match::Start, "TFTP: Successful. Total bytes transferred: "},
    StatusText{Match::Whole, "226 File transfer successful."},
    StatusText{Match::Whole, "226 File transfer successful"},
    StatusText{Match::Whole, "226 ABORT command successful."},
    StatusText{Match::Whole, "226 ABORT command successful"},
    StatusText{Match::Whole, "226 Closing data connection"},
    StatusText{Match::Whole, "221 Service closing control connection"},
    StatusText{Match::Whole, "221 Goodbye."},
};

bool Matches(const StatusText& entry, std::string_view status) {
  switch (entry.match) {
    case Match::Whole:
      return status == entry.text;
    case Match::Start:
      return status.starts_with(entry.text);
    case Match::End:
      return status.ends_with(entry.text);
  }
  return false;
}

template <size_t N>
bool InTable(const std::array<StatusText, N>& table, std::string_view status) {
  for (const StatusText& entry : table)
    if (Matches(entry, status)) return true;
  return false;
}

// The FTP client shows the server's reply when the server refuses; a refusal is a reply of class 4 or 5.
bool IsRefusalReply(std::string_view status) {
  return status.size() >= 4 && (status[0] == '4' || status[0] == '5') && status[1] >= '0' &&
         status[1] <= '9' && status[2] >= '0' && status[2] <= '9' && (status[3] == ' ' || status[3] == '-');
}

// The FTP client shows the server's reply when its transfer or its session has been closed.
bool IsClosingReply(std::string_view status) {
  return (status.starts_with("226") || status.starts_with("221")) && status.size() >= 4 &&
         (status[3] == ' ' || status[3] == '-');
}

// The FTP client's rows, in the clear or over TLS.
bool IsFtpClient(std::string_view type) {
  return type == "Ftp Client" || type == "Ftps Cli";
}

// The FTP server's rows. Their Status is the last reply the server sent and their Command the last line the
// client sent.
bool IsFtpServer(std::string_view type) {
  return type == "Ftp Srv" || type == "Ftps Srv";
}

// The commands whose refusal at the server is a failed transfer, and QUIT: a session whose transfer or login
// failed keeps that refusal as its Status when the client says goodbye, so a refusal beside QUIT is one. A
// refused CWD or SIZE is part of a client's ordinary conversation and is not.
bool RefusalFails(std::string_view command) {
  std::string_view verb = command.substr(0, command.find(' '));
  constexpr std::array<std::string_view, 8> kVerbs = {"RETR", "STOR", "STOU", "APPE",
                                                      "LIST", "NLST", "MLSD", "QUIT"};
  for (std::string_view known : kVerbs) {
    if (verb.size() != known.size()) continue;
    bool same = true;
    for (size_t i = 0; i < verb.size() && same; ++i)
      same = (verb[i] & ~0x20) == known[i];  // letters only: case does not matter
    if (same) return true;
  }
  return false;
}

}  // namespace

bool IsFailureStatus(std::string_view type, std::string_view status, std::string_view command) {
  if (InTable(kFailures, status)) return true;
  if (!IsRefusalReply(status)) return false;
  if (IsFtpClient(type)) return true;
  // At the server every 530 is a login refused.
  return IsFtpServer(type) && (status.starts_with("530") || RefusalFails(command));
}

bool IsEndStatus(std::string_view type, std::string_view status) {
  return InTable(kSuccesses, status) || (IsFtpClient(type) && IsClosingReply(status)) ||
         IsFailureStatus(type, status);
}

}  // namespace hx
