#pragma once

#include <string>

#include "tftp/tftp_options.h"

namespace hx::tftp {

// One transfer of one file, as the starting command hands it to the client session before its thread starts.
struct TftpClientJob {
  bool put = false;        // false: fetch the remote file (RRQ); true: send the local file (WRQ)
  std::string host;        // as typed: a dotted address or a host name
  int port = 69;           // 1 to 65534, checked by the form
  std::string remoteName;  // sent in the request unchanged
  std::string localName;   // written by a GET, read by a PUT
  // blksize, windowsize and timeout to ask for; none asked: the request carries no options at all. When any
  // is asked, tsize is asked on a GET and sent on a PUT.
  TftpOptions options;
};

}  // namespace hx::tftp
