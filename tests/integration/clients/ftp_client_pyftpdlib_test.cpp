// harbinex ftp get|put against pyftpdlib, anonymous and with a user profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "integration/clients/ftp_client_peers.h"
#include "integration/clients/ftp_client_tool.h"
#include "support/temp_dir.h"

namespace hx::test {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(engine() & 0xFF);
  return bytes;
}

std::string HostPort(std::uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class PyftpdlibClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_root = std::make_unique<TempDir>();
    s_server = StartTcpPeer(
        [](std::uint16_t port) {
          return std::vector<std::string>{
              "/usr/bin/python3",      "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port), "-d",
              s_root->Path().string(), "-w", "-D"};
        },
        s_port);
    s_ready = s_server != nullptr;
  }
  static void TearDownTestSuite() {
    s_server.reset();
    s_root.reset();
  }
  void SetUp() override { ASSERT_TRUE(s_ready) << "pyftpdlib did not start"; }

  ToolRun Ftp(const std::string& direction, const std::string& remote, const std::filesystem::path& local,
              const std::string& password = "guest@example", const std::string& stdinText = {}) {
    return RunHarbinex({"ftp", direction, HostPort(s_port), "anonymous", password, remote, local.string(),
                        "--dir", app.Path().string()},
                       stdinText);
  }
  std::filesystem::path Served(const std::string& name) const { return s_root->Path() / name; }

  static std::unique_ptr<TempDir> s_root;
  static std::unique_ptr<PeerProcess> s_server;
  static std::uint16_t s_port;
  static bool s_ready;
  TempDir app;
  TempDir local;
};

std::unique_ptr<TempDir> PyftpdlibClient::s_root;
std::unique_ptr<PeerProcess> PyftpdlibClient::s_server;
std::uint16_t PyftpdlibClient::s_port = 0;
bool PyftpdlibClient::s_ready = false;

TEST_F(PyftpdlibClient, GetWritesTheFileAndTheLastValues) {
  const std::string content = RandomBytes(300'000, 1);
  WriteFile(Served("get.bin"), content);
  ToolRun run = Ftp("get", "get.bin", local.Path() / "got.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "221 Goodbye.\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(local.Path() / "got.bin"), content);

  const std::string ini = ReadFile(app.Path() / "Harbinex.ini");
  EXPECT_NE(ini.find("[FLastGet]"), std::string::npos);
  EXPECT_NE(ini.find("HostName=127.0.0.1"), std::string::npos);
  EXPECT_NE(ini.find("HostPort=" + std::to_string(s_port)), std::string::npos);
  EXPECT_NE(ini.find("UserID=anonymous"), std::string::npos);
  EXPECT_NE(ini.find("RemoteName=get.bin"), std::string::npos);
  EXPECT_NE(ini.find("LocalName=" + (local.Path() / "got.bin").string()), std::string::npos);
  EXPECT_EQ(ini.find("guest@example"), std::string::npos) << "the password must never be saved";
  EXPECT_EQ(ini.find("[FLastPut]"), std::string::npos);
  // A download writes no log entry of the client's.
  EXPECT_EQ(ReadFile(app.Path() / "Harbinex.log"), "");
}

TEST_F(PyftpdlibClient, PutSendsTheFileAndLogsIt) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{10240}, size_t{30720}, size_t{123'457}}) {
    const std::string name = "put-" + std::to_string(size) + ".bin";
    const std::string content = RandomBytes(size, static_cast<unsigned>(size));
    WriteFile(local.Path() / name, content);
    ToolRun run = Ftp("put", name, local.Path() / name);
    ASSERT_EQ(run.status, 0) << size << run.out << run.err;
    EXPECT_EQ(run.out, "221 Goodbye.\n");
    EXPECT_EQ(ReadFile(Served(name)), content) << size;
    EXPECT_NE(ReadFile(app.Path() / "Harbinex.log")
                  .find(" File " + (local.Path() / name).string() +
                        " Bytes transferred: " + std::to_string(size) + "\r\n"),
              std::string::npos)
        << size;
  }
  EXPECT_NE(ReadFile(app.Path() / "Harbinex.ini").find("[FLastPut]"), std::string::npos);
}

TEST_F(PyftpdlibClient, EmptyFileDownloads) {
  WriteFile(Served("empty.bin"), "");
  WriteFile(local.Path() / "empty.bin", "old content");
  ToolRun run = Ftp("get", "empty.bin", local.Path() / "empty.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(local.Path() / "empty.bin"), "");
}

TEST_F(PyftpdlibClient, RefusedGetKeepsTheLocalFileAndASuccessReplacesIt) {
  const auto target = local.Path() / "target.bin";
  const std::string old = RandomBytes(70'000, 5);
  WriteFile(target, old);
  std::filesystem::permissions(target, std::filesystem::perms(0640));
  ToolRun run = Ftp("get", "no-such-file", target);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: 550 No such file or directory.\n");
  EXPECT_EQ(run.out, "550 No such file or directory.\n");
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_EQ(Names(local.Path()), std::vector<std::string>{"target.bin"});

  // A refused download of a new name leaves nothing at all.
  run = Ftp("get", "no-such-file", local.Path() / "nothing.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Names(local.Path()), std::vector<std::string>{"target.bin"});

  const std::string fresh = RandomBytes(50'000, 6);
  WriteFile(Served("fresh.bin"), fresh);
  run = Ftp("get", "fresh.bin", target);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(target), fresh);
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(Names(local.Path()), std::vector<std::string>{"target.bin"});
}

TEST_F(PyftpdlibClient, PasswordFromStandardInput) {
  WriteFile(Served("stdin.bin"), "via stdin");
  ToolRun run = Ftp("get", "stdin.bin", local.Path() / "stdin.bin", "-", "someone@example\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(local.Path() / "stdin.bin"), "via stdin");
}

TEST_F(PyftpdlibClient, PassiveGetAndPut) {
  const std::string down = RandomBytes(300'000, 7);
  WriteFile(Served("passive-get.bin"), down);
  ToolRun get =
      RunHarbinex({"ftp", "get", HostPort(s_port), "anonymous", "guest@example", "passive-get.bin",
                   (local.Path() / "passive-get.bin").string(), "--passive", "--dir", app.Path().string()});
  ASSERT_EQ(get.status, 0) << get.out << get.err;
  EXPECT_EQ(get.out, "221 Goodbye.\n");
  EXPECT_EQ(ReadFile(local.Path() / "passive-get.bin"), down);
  EXPECT_NE(ReadFile(app.Path() / "Harbinex.ini").find("Passive=1"), std::string::npos);

  const std::string up = RandomBytes(123'457, 8);
  WriteFile(local.Path() / "passive-put.bin", up);
  ToolRun put =
      RunHarbinex({"ftp", "put", HostPort(s_port), "anonymous", "guest@example", "passive-put.bin",
                   (local.Path() / "passive-put.bin").string(), "--passive", "--dir", app.Path().string()});
  ASSERT_EQ(put.status, 0) << put.out << put.err;
  EXPECT_EQ(ReadFile(Served("passive-put.bin")), up);
  // The server saw the extended passive request, and no PORT for these transfers.
  const std::string trace = s_server->Output();
  EXPECT_NE(trace.find("<- EPSV"), std::string::npos) << trace;
}

TEST(PyftpdlibLogin, UserAndPassword) {
  TempDir root;
  TempDir app;
  WriteFile(root.Path() / "private.txt", "for alice only");
  // The server script lies beside this file.
  const auto script = std::filesystem::path(__FILE__).parent_path() / "ftp_client_pyftpd_user.py";
  std::uint16_t port = 0;
  auto server = StartTcpPeer(
      [&](std::uint16_t free) {
        return std::vector<std::string>{"/usr/bin/python3",   script.string(), std::to_string(free),
                                        root.Path().string(), "alice",         "s3cret!"};
      },
      port);
  ASSERT_NE(server, nullptr) << "pyftpdlib did not start";

  ToolRun good = RunHarbinex({"ftp", "get", HostPort(port), "alice", "s3cret!", "private.txt",
                              (app.Path() / "private.txt").string(), "--dir", app.Path().string()});
  ASSERT_EQ(good.status, 0) << good.out << good.err;
  EXPECT_EQ(ReadFile(app.Path() / "private.txt"), "for alice only");
  EXPECT_EQ(ReadFile(app.Path() / "Harbinex.ini").find("s3cret!"), std::string::npos);

  WriteFile(app.Path() / "up.txt", "from alice");
  ToolRun put = RunHarbinex({"ftp", "put", HostPort(port), "alice", "-", "up.txt",
                             (app.Path() / "up.txt").string(), "--dir", app.Path().string()},
                            "s3cret!\r\n");
  ASSERT_EQ(put.status, 0) << put.out << put.err;
  EXPECT_EQ(ReadFile(root.Path() / "up.txt"), "from alice");

  ToolRun bad = RunHarbinex({"ftp", "get", HostPort(port), "alice", "wrong", "private.txt",
                             (app.Path() / "bad.txt").string(), "--dir", app.Path().string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "harbinex: 530 Authentication failed.\n");
  EXPECT_EQ(bad.out, "530 Authentication failed.\n");
}

}  // namespace
}  // namespace hx::test
