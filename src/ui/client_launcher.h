#pragma once

#include <functional>

#include "ftp/client/ftp_client_job.h"
#include "ftp/client/ftp_client_start.h"
#include "tftp/tftp_client_job.h"

namespace hx {

class ServerApp;

// Starts client sessions (a worker with its row in the session list) for the client dialogs. Tests replace
// it to see what a dialog asked for; the program uses the clients' own start operations.
struct ClientLauncher {
  std::function<void(const ftpc::FtpClientJob&)> startFtp;
  std::function<void(const tftp::TftpClientJob&)> startTftp;
  // How the FTP client dialog fetches a server's certificate for trust on first use; empty: ProbeCertificate.
  ftpc::CertificateProbe probeCertificate;
};

// The launcher of the program: the clients' own start operations on the application's context.
ClientLauncher MakeClientLauncher(ServerApp& app);

}  // namespace hx
