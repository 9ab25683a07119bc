#include "ftp/client/ftp_client_command.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/client_console.h"
#include "app/host_port.h"
#include "ftp/client/ftp_client_start.h"
#include "ftp/client/ftp_client_worker.h"

namespace hx {
namespace {

constexpr const char* kUsageText =
    "usage: harbinex ftp get|put HOST[:PORT] USER PASSWORD REMOTE LOCAL [--passive] [--dir DIR]\n"
    "PASSWORD \"-\" reads the password from one line of standard input.\n";

// Takes every "--NAME" out of args; whether there was one.
bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  return std::erase(args, name) > 0;
}

}  // namespace

int RunFtpClientCommand(CommandLine& line, const std::string& appDir) {
  const bool passive = TakeFlag(line.args, "--passive");
  const auto& args = line.args;
  if (args.size() != 6 || (args[0] != "get" && args[0] != "put")) {
    std::fputs(kUsageText, stderr);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  ftpc::FtpClientForm form;
  HostPortText hostPort = SplitHostPort(args[1], "21");
  form.host = hostPort.host;
  form.port = hostPort.port;
  form.user = args[2];
  form.password = args[3];
  if (form.password == "-") {
    form.password.clear();
    std::getline(std::cin, form.password);
    if (!form.password.empty() && form.password.back() == '\r') form.password.pop_back();
  }
  form.remoteName = args[4];
  form.localName = args[5];
  form.passive = passive;

  ftpc::FtpClientJob job;
  job.put = args[0] == "put";
  if (auto problem = ftpc::ValidateFtpClientForm(form, job)) {
    std::fprintf(stderr, "harbinex: %s\n", problem->message.c_str());
    return 1;
  }

  ClientCommandApp app(appDir);
  ftpc::FtpClientWorker* worker = ftpc::StartFtpClient(app.Context(), job);
  if (worker == nullptr) return 1;
  app.WaitAndReport(*worker);
  return worker->Succeeded() ? 0 : 1;
}

}  // namespace hx
