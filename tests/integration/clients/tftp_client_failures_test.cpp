// harbinex tftp get|put when things go wrong: nothing listening, a name that cannot be resolved, local files
// that are refused before any request leaves, and values the form refuses. (A server that stays silent is
// met by the session in this process, on a clock the test moves: tftp_client_session_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "app/config_store.h"
#include "integration/clients/ftp_client_tool.h"
#include "integration/clients/tftp_client_support.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"
#include "tftp/tftp_client_session.h"

namespace hx::test {
namespace {

using tftpc::UdpSocket;
namespace fs = std::filesystem;

// A name under the reserved ".invalid" domain whose first label is longer than a DNS label may be, so that
// the resolver refuses it without asking any name server.
const std::string kUnresolvable = std::string(64, 'n') + ".invalid";

const std::string kUsage =
    "usage: harbinex tftp get|put HOST[:PORT] REMOTE LOCAL [--blksize N] [--windowsize N] [--timeout S] "
    "[--dir DIR]\n";

class TftpClientFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteIni(app.Path(),
             {"TFTP/TTimeout=1", "TFTP/TRetries=1", "TFTP/TOverWriteFiles=0", "TFTP/TMakeNewDirs=0"});
  }
  ToolRun Tftp(const std::string& direction, const std::string& hostPort, const std::string& remote,
               const fs::path& local) {
    return RunHarbinex({"tftp", direction, hostPort, remote, local.string(), "--dir", app.Path().string()});
  }
  ToolRun Tftp(const std::string& direction, std::uint16_t port, const std::string& remote,
               const fs::path& local) {
    return Tftp(direction, "127.0.0.1:" + std::to_string(port), remote, local);
  }
  std::string Log() const { return ReadFile(app.Path() / "Harbinex.log"); }

  TempDir app;  // program directory and local files
};

TEST_F(TftpClientFailures, NothingListeningIsAResetConnection) {
  std::uint16_t closed = tftpc::FreeUdpPort();
  ToolRun run = Tftp("get", closed, "remote.bin", app.Path() / "get.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error receiving response from host : [10054] Connection reset by peer\n");
  // A client's failure reaches the log as a server's does.
  EXPECT_NE(Log().find("TFTP: ERROR. Error receiving response from host : [10054] Connection reset by peer"),
            std::string::npos)
      << Log();

  WriteFile(app.Path() / "put.bin", "payload");
  run = Tftp("put", closed, "remote.bin", app.Path() / "put.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error receiving : [10054] Connection reset by peer\n");
  EXPECT_EQ(ReadFile(app.Path() / "put.bin"), "payload");
}

TEST_F(TftpClientFailures, UnresolvableHostName) {
  ToolRun run = Tftp("get", kUnresolvable + ":69", "remote.bin", app.Path() / "get.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error connecting to host : [10022] Invalid argument\n");

  WriteFile(app.Path() / "put.bin", "payload");
  run = Tftp("put", kUnresolvable, "remote.bin", app.Path() / "put.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error sending : [10022] Invalid argument\n");
  // The row shows the host as typed, and the log says where the session meant to go.
  EXPECT_NE(Log().find("TFTP: Outgoing connection to address " + kUnresolvable + "\r\n"), std::string::npos);
  ConfigStore ini(app.Path() / "Harbinex.ini");
  EXPECT_EQ(ini.GetProfileString("TLastPut", "Host"), kUnresolvable);
  EXPECT_EQ(ini.GetProfileInt("TLastPut", "PortNumber", 0), 69);
}

TEST_F(TftpClientFailures, RefusedLocalFilesSendNothing) {
  WriteFile(app.Path() / "existing.bin", "keep me");
  const std::string tooLong(508, 'r');
  struct Case {
    const char* name;
    const char* direction;
    std::string remote;
    fs::path local;
    std::string status;
  };
  const Case cases[] = {
      {"existing file, overwrite off", "get", "remote.bin", app.Path() / "existing.bin",
       "User asked to overwrite an existing file! Access denied!"},
      {"directory may not be created", "get", "remote.bin", app.Path() / "new" / "file.bin",
       "Unable to access file. Aborting"},
      {"local directory as the file", "get", "remote.bin", app.Path(),
       "User asked for a volume, directory, system or read-only file! Access denied!"},
      {"missing file to send", "put", "remote.bin", app.Path() / "missing.bin",
       "File was not found. Aborting transfer"},
      {"directory to send", "put", "remote.bin", app.Path(), "Cannot GET a directory!"},
      {"remote name too long", "get", tooLong, app.Path() / "long.bin", tftp::kRemoteNameTooLong},
      {"remote name too long to send", "put", tooLong, app.Path() / "existing.bin", tftp::kRemoteNameTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UdpSocket server;
    ToolRun run = Tftp(c.direction, server.Port(), c.remote, c.local);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, c.status + "\n");
    EXPECT_NE(Log().find("TFTP: ERROR. " + c.status + "\r\n"), std::string::npos);
    EXPECT_FALSE(server.Receive(std::chrono::milliseconds(50)).has_value()) << "a request left";
  }
  EXPECT_EQ(ReadFile(app.Path() / "existing.bin"), "keep me");
  EXPECT_FALSE(fs::exists(app.Path() / "new"));
  EXPECT_FALSE(fs::exists(app.Path() / "long.bin"));
}

TEST_F(TftpClientFailures, LongestRemoteNameFillsTheRequest) {
  const std::string longest(507, 'r');
  UdpSocket server;
  // The server refuses at once, so that the session ends without waiting.
  std::thread refuse([&] {
    if (auto request = server.Receive()) {
      EXPECT_EQ(request->bytes.size(), 516u);
      EXPECT_EQ(request->bytes, tftpc::Request(1, longest, "octet"));
      server.SendTo(request->port, std::string("\0\5\0\1No such file\0", 17));
    }
  });
  ToolRun run = Tftp("get", server.Port(), longest, app.Path() / "longest.bin");
  refuse.join();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Received error code from peer. Aborting. Error = No such file\n");
}

TEST_F(TftpClientFailures, ValuesTheFormRefuses) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string local = (app.Path() / "x.bin").string();
  const Case cases[] = {
      {{"tftp", "get", "127.0.0.1", "r"}, 2, kUsage},
      {{"tftp", "fetch", "127.0.0.1", "r", local}, 2, kUsage},
      {{"tftp", "get", ":69", "r", local}, 1, "harbinex: This field cannot be left blank.\n"},
      {{"tftp", "get", "127.0.0.1", "r", ""}, 1, "harbinex: This field cannot be left blank.\n"},
      {{"tftp", "get", "127.0.0.1:abc", "r", local}, 1, "harbinex: Please enter an integer.\n"},
      {{"tftp", "get", "127.0.0.1:", "r", local}, 1, "harbinex: Please enter an integer.\n"},
      {{"tftp", "get", "127.0.0.1:0", "r", local},
       1,
       "harbinex: Please enter an integer between 1 and 65534.\n"},
      {{"tftp", "put", "127.0.0.1:65535", "r", local},
       1,
       "harbinex: Please enter an integer between 1 and 65534.\n"},
      {{"tftp", "get", "127.0.0.1:69", "", local}, 1, "harbinex: This field cannot be left blank.\n"},
      // Option values, anywhere among the arguments: refused with their name and exit status 2; a missing
      // or repeated one is a usage error; accepted ones leave the rest to the form.
      {{"tftp", "--blksize", "65465", "put", "127.0.0.1", "r", local},
       2,
       "harbinex: --blksize: Please enter an integer between 8 and 65464.\n"},
      {{"tftp", "get", "127.0.0.1", "--windowsize", "many", "r", local},
       2,
       "harbinex: --windowsize: Please enter an integer.\n"},
      {{"tftp", "get", "127.0.0.1", "r", local, "--timeout", "0"},
       2,
       "harbinex: --timeout: Please enter an integer between 1 and 255.\n"},
      {{"tftp", "get", "127.0.0.1", "r", local, "--blksize"}, 2, kUsage},
      {{"tftp", "get", "127.0.0.1", "r", local, "--blksize", "512", "--blksize", "1024"}, 2, kUsage},
      {{"tftp", "--timeout", "2", "get", "127.0.0.1:0", "r", "--windowsize", "16", local, "--blksize",
        "1468"},
       1,
       "harbinex: Please enter an integer between 1 and 65534.\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--dir", app.Path().string()});
    ToolRun run = RunHarbinex(args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
  }
  // Refused values are not kept, and no session was started.
  ConfigStore ini(app.Path() / "Harbinex.ini");
  EXPECT_EQ(ini.GetProfileString("TLastGet", "Host", "none"), "none");
  EXPECT_EQ(ini.GetProfileString("TLastPut", "Host", "none"), "none");
  EXPECT_FALSE(fs::exists(app.Path() / "Harbinex.log"));
}

}  // namespace
}  // namespace hx::test
