#include "tftp/tftp_client_command.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/client_console.h"
#include "app/host_port.h"
#include "app/session_table.h"
#include "tftp/tftp_client_session.h"
#include "tftp/tftp_client_start.h"

namespace hx {
namespace {

constexpr const char* kUsageText = "usage: harbinex tftp get|put HOST[:PORT] REMOTE LOCAL [--dir DIR]\n";

// Waits until the session has ended or its Status says the file went over. A download that succeeded may
// still dally to answer a retransmitted final block; the command does not make its caller wait for that,
// as the file is complete and closed, so the dally is cut short.
void WaitForOutcome(ClientCommandApp& app, tftp::TftpClientSession& session) {
  while (!session.Finished()) {
    if (tftp::TftpClientSucceeded(app.Context().registry.CellText(session.m_nSessionId, kColStatus))) {
      session.RequestStop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

int RunTftpClientCommand(CommandLine& line, const std::string& appDir) {
  const auto& args = line.args;
  if (args.size() != 4 || (args[0] != "get" && args[0] != "put")) {
    std::fputs(kUsageText, stderr);
    return 2;
  }
  tftp::TftpClientForm form;
  HostPortText hostPort = SplitHostPort(args[1], "69");
  form.host = hostPort.host;
  form.port = hostPort.port;
  form.remoteName = args[2];
  form.localName = args[3];

  tftp::TftpClientJob job;
  job.put = args[0] == "put";
  if (auto problem = tftp::ValidateTftpClientForm(form, job)) {
    std::fprintf(stderr, "harbinex: %s\n", problem->message.c_str());
    return 1;
  }

  ClientCommandApp app(appDir);
  tftp::TftpClientSession* session = tftp::StartTftpClient(app.Context(), job);
  if (session == nullptr) return 1;
  WaitForOutcome(app, *session);
  app.WaitAndReport(*session);
  return tftp::TftpClientSucceeded(app.Context().registry.CellText(session->m_nSessionId, kColStatus)) ? 0 : 1;
}

}  // namespace hx
