#include "ui/client_launcher.h"

#include "app/server_app.h"
#include "ftp/client/ftp_client_start.h"
#include "tftp/tftp_client_start.h"

namespace hx {

ClientLauncher MakeClientLauncher(ServerApp& app) {
  ClientLauncher launcher;
  launcher.startFtp = [&app](const ftpc::FtpClientJob& job) { ftpc::StartFtpClient(app.Context(), job); };
  launcher.startTftp = [&app](const tftp::TftpClientJob& job) { tftp::StartTftpClient(app.Context(), job); };
  return launcher;
}

}  // namespace hx
