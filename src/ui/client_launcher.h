#pragma once

#include <functional>
#include <string>

#include "ftp/client/ftp_client_job.h"

namespace hx {

// What the TFTP client dialog hands over when the operator presses OK: one transfer of one file.
struct TftpClientRequest {
  bool put = false;
  std::string host;
  int port = 69;
  std::string remoteName;
  std::string localName;
};

// Starts client sessions (a worker with its row in the session list). An empty function means that this
// build has no such client; the window then says so instead of opening the dialog.
struct ClientLauncher {
  std::function<void(const ftpc::FtpClientJob&)> startFtp;
  std::function<void(const TftpClientRequest&)> startTftp;
};

class ServerApp;

// The launcher of the program: the clients' own start operations on the application's context.
ClientLauncher MakeClientLauncher(ServerApp& app);

}  // namespace hx
