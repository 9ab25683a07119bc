// The command line: the window, the headless server, the two client commands and the profile commands.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/config_keys.h"
#include "app/console_frontend.h"
#include "app/program_directory.h"
#include "app/resource_limits.h"
#include "app/server_app.h"
#include "app/version.h"
#include "ftp/client/ftp_client_command.h"
#include "ftp/server/ftp_listener.h"
#include "tftp/tftp_client_command.h"
#include "tftp/tftp_listener.h"
#include "tls/server_tls.h"
#include "users/users_command.h"
#ifdef HX_HAVE_UI
#include "ui/run_window.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  harbinex [--dir DIR]\n"
    "  harbinex --headless [--dir DIR]\n"
    "  harbinex tftp get|put HOST[:PORT] REMOTE LOCAL [--blksize N] [--windowsize N] [--timeout S] "
    "[--dir DIR]\n"
    "  harbinex ftp  get|put HOST[:PORT] USER PASSWORD REMOTE LOCAL [--passive] [--tls | --tls-implicit]\n"
    "                [--fingerprint SHA256:HEX | --insecure] [--dir DIR]\n"
    "  harbinex users list [--dir DIR]\n"
    "  harbinex users add NAME --password PW --home DIR [--rights LIST] [--dir DIR]\n"
    "  harbinex users edit NAME [--password PW] [--home DIR] [--rights LIST] [--dir DIR]\n"
    "  harbinex users delete NAME [--dir DIR]\n"
    "  harbinex --help | --version\n";

// The rest of --help: what each command and option does, and the files of the program directory.
constexpr const char* kHelp =
    "\n"
    "commands:\n"
    "  (none)            the window; headless when there is no display or no window built in\n"
    "  --headless        the TFTP and FTP servers without a window, until SIGINT or SIGTERM\n"
    "  tftp get|put      fetch or send one file with the TFTP client\n"
    "  ftp get|put       fetch or send one file with the FTP client\n"
    "  users             list, add, edit or delete the FTP user profiles\n"
    "  --help, -h        this text\n"
    "  --version         the program's version\n"
    "\n"
    "options:\n"
    "  --dir DIR         the program directory, which holds the files below\n"
    "  --blksize N       TFTP block size to ask for, 8 to 65464 bytes\n"
    "  --windowsize N    TFTP blocks sent before an acknowledgement, 1 to 65535\n"
    "  --timeout S       TFTP seconds before a retransmission, 1 to 255\n"
    "  --passive         FTP data connection opened by the client (PASV)\n"
    "  --tls             FTP over TLS: AUTH TLS after the greeting, then PBSZ 0 and PROT P\n"
    "  --tls-implicit    FTP over TLS from the first byte (port 990 unless HOST names one)\n"
    "  --fingerprint FP  the server's certificate must have this SHA-256 fingerprint (SHA256:HEX, with or\n"
    "                    without colons) instead of passing the system's trust store and the host name\n"
    "  --insecure        the server's certificate is not checked at all (a warning says so)\n"
    "  --password PW     profile password, 6 to 128 characters; given here it shows in the process list,\n"
    "                    PW \"-\" reads one line of standard input instead (without echo on a terminal);\n"
    "                    the ftp command's PASSWORD \"-\" reads one line of standard input too\n"
    "  --home DIR        profile upload/download directory\n"
    "  --rights LIST     comma list of login, upload, download, overwrite, rename, delete, mkdir, rmdir\n"
    "\n"
    "files of the program directory:\n"
    "  Harbinex.ini      configuration\n"
    "  Harbinex.log      transfer log\n"
    "  Harbinex.dbg      debug trace\n"
    "  Harbinex.pwd      FTP user profiles\n"
    "Without --dir the program directory is the executable's folder, or for an installed program\n"
    "$XDG_CONFIG_HOME/harbinex (~/.config/harbinex when XDG_CONFIG_HOME is unset), made with mode 0700.\n"
    "\n";

hx::ServerApp::Services MakeServices() {
  hx::ServerApp::Services services;
  services.tftp = hx::MakeTftpListener;
  services.ftp = hx::MakeFtpListener;
  services.ftpTls = std::make_shared<hx::tls::ServerTls>();
  return services;
}

// A service switched off in the settings is named at start, so that a headless start that serves less than
// both services says why.
void PrintServicesOffBySetting(hx::ConfigStore& config) {
  int tftp = hx::cfg::Read(config, hx::cfg::kTftpServer);
  if (tftp != 1) std::printf("TFTP server is off (TFTP/TFTPServer=%d)\n", tftp);
  int ftp = hx::cfg::Read(config, hx::cfg::kFtpServer);
  if (ftp != 1) std::printf("FTP server is off (FTP/FTPServer=%d)\n", ftp);
}

int RunHeadless(const std::string& dir) {
  // Signals are taken by sigwait on this thread; every thread started from here on inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  hx::ConsoleFrontend frontend(/*echoLog=*/true);
  hx::ServerApp app(dir, frontend, MakeServices(), hx::ServerApp::Mode::Headless);
  // Nobody looks at rows here: a service that runs for weeks keeps only those of running sessions.
  app.Registry().KeepCompletedRows(false);
  if (!app.InitInstance()) {
    app.ExitInstance();
    return 1;
  }
  if (app.SafeFirstStart()) std::printf("%s\n", hx::SafeFirstStartLine(app.Config().Path().string()).c_str());
  PrintServicesOffBySetting(app.Config());
  if (!app.TftpServiceOn() && !app.FtpServiceOn()) {
    // Waiting for a signal while serving nothing would look like a running service to whoever started it.
    app.ExitInstance();
    std::fflush(stdout);
    std::fputs("harbinex: no service is running; both are off or could not start\n", stderr);
    return 1;
  }
  if (auto port = app.TftpPort()) std::printf("TFTP server listening on port %u\n", unsigned{*port});
  if (auto port = app.FtpPort()) std::printf("FTP server listening on port %u\n", unsigned{*port});
  std::fflush(stdout);

  // Waiting for the signal, this thread also prints the folds of repeated messages whose second is over.
  const timespec tick{0, 500'000'000};
  while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) frontend.PrintDueNotices();
  int code = app.ExitInstance();
  frontend.FlushNotices();
  std::fflush(stdout);
  // Sessions that ignored every stop request still run; leaving without destructors lets the process end.
  if (app.AbandonedWorkers() > 0) std::_Exit(code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // Not fatal: the program serves with the limit it was given, only fewer sessions at once.
  hx::RaiseOpenFileLimit();
  hx::CommandLine line = hx::ParseCommandLine(argc, argv);
  const auto& args = line.args;
  std::optional<std::string> chosen = hx::ProgramDirectory(line.dir);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    std::printf("program directory: %s\n", chosen ? chosen->c_str() : "(none: set HOME or XDG_CONFIG_HOME)");
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("%s\n", hx::kAboutVersionText);
    return 0;
  }
  if (!chosen) {
    std::fputs("harbinex: neither HOME nor XDG_CONFIG_HOME names a folder for the settings; use --dir DIR\n",
               stderr);
    return 2;
  }
  std::string dir = *chosen;
  // The configuration folder of an installed program is made at its first start; a --dir or the executable's
  // folder must exist already.
  if (!line.dir && dir != hx::ExecutableDirectory() && !hx::CreatePrivateFolders(dir)) {
    std::fprintf(stderr, "harbinex: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  if (!std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "harbinex: %s is not a directory\n", dir.c_str());
    return 2;
  }
  if (!args.empty() && args[0] == "--headless" && args.size() == 1) return RunHeadless(dir);
  if (!args.empty() && args[0] == "tftp") {
    line.args.erase(line.args.begin());
    return hx::RunTftpClientCommand(line, dir);
  }
  if (!args.empty() && args[0] == "ftp") {
    line.args.erase(line.args.begin());
    return hx::RunFtpClientCommand(line, dir);
  }
  if (!args.empty() && args[0] == "users") {
    line.args.erase(line.args.begin());
    return hx::RunUsersCommand(line, dir);
  }
  if (args.empty()) {
#ifdef HX_HAVE_UI
    if (hx::WindowAvailable()) return RunWindow(argc, argv, dir, MakeServices());
#endif
    // Without a window (none built in, or no display), the program serves headless.
    return RunHeadless(dir);
  }
  std::fputs(kUsage, stderr);
  return 2;
}
