#include "ftp/client/ftp_client_command.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/client_console.h"
#include "app/host_port.h"
#include "ftp/client/ftp_client_start.h"
#include "ftp/client/ftp_client_worker.h"
#include "tls/certificate.h"

namespace hx {
namespace {

constexpr const char* kUsageText =
    "usage: harbinex ftp get|put HOST[:PORT] USER PASSWORD REMOTE LOCAL [--passive]\n"
    "                            [--tls | --tls-implicit] [--fingerprint SHA256:HEX | --insecure] [--dir "
    "DIR]\n"
    "PASSWORD \"-\" reads the password from one line of standard input.\n";

// Takes every "--NAME" out of args; whether there was one.
bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  return std::erase(args, name) > 0;
}

// Takes the TLS options out of the command line into the job: --tls, --tls-implicit, --fingerprint and
// --insecure. Returns the usage error to print, or the empty text.
std::string TakeTlsOptions(CommandLine& line, ftpc::FtpClientJob& job) {
  const bool explicitTls = TakeFlag(line.args, "--tls");
  const bool implicitTls = TakeFlag(line.args, "--tls-implicit");
  bool missing = false;
  const std::optional<std::string> fingerprint = line.TakeOption("--fingerprint", missing);
  job.insecure = TakeFlag(line.args, "--insecure");
  if (missing) return "--fingerprint: the fingerprint is missing";
  if (explicitTls && implicitTls) return "--tls and --tls-implicit: give one of them";
  job.tls = implicitTls   ? ftpc::FtpClientJob::Tls::Implicit
            : explicitTls ? ftpc::FtpClientJob::Tls::Explicit
                          : ftpc::FtpClientJob::Tls::Off;
  if (fingerprint && job.insecure) return "--fingerprint and --insecure: give one of them";
  if ((fingerprint || job.insecure) && job.tls == ftpc::FtpClientJob::Tls::Off)
    return std::string(fingerprint ? "--fingerprint" : "--insecure") + ": only with --tls or --tls-implicit";
  if (fingerprint) {
    auto parsed = tls::ParseFingerprint(*fingerprint);
    if (!parsed)
      return "--fingerprint: not a SHA-256 fingerprint (SHA256: and 64 hex digits): " + *fingerprint;
    job.fingerprint = *parsed;
  }
  return {};
}

}  // namespace

int RunFtpClientCommand(CommandLine& line, const std::string& appDir) {
  const bool passive = TakeFlag(line.args, "--passive");
  ftpc::FtpClientJob job;
  const std::string tlsProblem = TakeTlsOptions(line, job);
  const auto& args = line.args;
  if (args.size() != 6 || (args[0] != "get" && args[0] != "put")) {
    std::fputs(kUsageText, stderr);
    return 2;
  }
  if (!tlsProblem.empty()) {
    std::fprintf(stderr, "harbinex: %s\n", tlsProblem.c_str());
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  ftpc::FtpClientForm form;
  // Implicit TLS has a port of its own.
  HostPortText hostPort = SplitHostPort(args[1], job.tls == ftpc::FtpClientJob::Tls::Implicit ? "990" : "21");
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
  form.tls = job.tls != ftpc::FtpClientJob::Tls::Off;

  job.put = args[0] == "put";
  const ftpc::FtpClientJob::Tls tls = job.tls;
  if (auto problem = ftpc::ValidateFtpClientForm(form, job)) {
    std::fprintf(stderr, "harbinex: %s\n", problem->message.c_str());
    return 1;
  }
  job.tls = tls;  // the form knows of explicit TLS only
  if (job.insecure) {
    std::fputs("harbinex: warning: the server's certificate is not checked (--insecure)\n", stderr);
  }

  ClientCommandApp app(appDir);
  ftpc::FtpClientWorker* worker = ftpc::StartFtpClient(app.Context(), job);
  if (worker == nullptr) return 1;
  app.WaitAndReport(*worker);
  return worker->Succeeded() ? 0 : 1;
}

}  // namespace hx
