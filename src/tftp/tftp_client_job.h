#pragma once

#include <string>

namespace hx::tftp {

// One transfer of one file, as the starting command hands it to the client session before its thread starts.
struct TftpClientJob {
  bool put = false;         // false: fetch the remote file (RRQ); true: send the local file (WRQ)
  std::string host;         // as typed: a dotted address or a host name
  int port = 69;            // 1 to 65534, checked by the form
  std::string remoteName;   // sent in the request unchanged
  std::string localName;    // written by a GET, read by a PUT
};

}  // namespace hx::tftp
