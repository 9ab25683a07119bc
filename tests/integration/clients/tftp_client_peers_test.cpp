// harbinex tftp get|put against real servers: tftpd-hpa and Harbinex's own headless TFTP server. Every file
// must arrive byte for byte, including the lengths at which a transfer ends with an empty block.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/config_store.h"
#include "integration/clients/ftp_client_tool.h"
#include "integration/clients/tftp_client_support.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx::test {
namespace {

using tftpc::PatternBytes;
using tftpc::Tftpd;
namespace fs = std::filesystem;

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Success(size_t total) {
  return "TFTP: Successful. Total bytes transferred: " + std::to_string(total) + "\n";
}

// Sizes around the block size: empty, short, exactly two blocks (ends with an empty DATA 3), and one that
// passes several multiples of 5,120.
const std::vector<size_t> kSizes = {0, 700, 1024, 15'377};

class TftpClientPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteIni(client.Path(), {"TFTP/TTimeout=2", "TFTP/TRetries=3", "TFTP/TOverWriteFiles=0"});
  }

  ToolRun Tftp(const std::string& direction, std::uint16_t port, const std::string& remote,
               const fs::path& local) {
    return RunHarbinex({"tftp", direction, "127.0.0.1:" + std::to_string(port), remote, local.string(),
                        "--dir", client.Path().string()});
  }
  static std::string Name(const char* stem, size_t size) {
    return std::string(stem) + std::to_string(size) + ".bin";
  }

  TempDir client;  // the client's program directory and its local files
};

TEST_F(TftpClientPeers, GetFromTftpdHpa) {
  TempDir served;
  for (size_t size : kSizes)
    WriteFile(served.Path() / Name("g", size), PatternBytes(size, static_cast<unsigned>(size)));
  Tftpd server(served.Path(), /*allowCreate=*/false);
  ASSERT_TRUE(server.Started()) << "tftpd-hpa (/usr/sbin/in.tftpd) is missing or did not start";

  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    fs::path local = client.Path() / Name("got", size);
    ToolRun run = Tftp("get", server.Port(), Name("g", size), local);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Success(size));
    EXPECT_EQ(run.err, "");  // no progress line when stderr is no terminal
    EXPECT_EQ(ReadFile(local), PatternBytes(size, static_cast<unsigned>(size)));
  }

  // The last values of the direction are kept for the next time.
  ConfigStore ini(client.Path() / "Harbinex.ini");
  EXPECT_EQ(ini.GetProfileString("TLastGet", "Host"), "127.0.0.1");
  EXPECT_EQ(ini.GetProfileInt("TLastGet", "PortNumber", 0), server.Port());
  EXPECT_EQ(ini.GetProfileString("TLastGet", "RemoteName"), Name("g", kSizes.back()));
  EXPECT_EQ(ini.GetProfileString("TLastGet", "LocalName"),
            (client.Path() / Name("got", kSizes.back())).string());
  EXPECT_EQ(ini.GetProfileString("TLastPut", "Host", "none"), "none");

  std::string log = ReadFile(client.Path() / "Harbinex.log");
  EXPECT_NE(log.find("TFTP: Outgoing connection to address 127.0.0.1\r\n"), std::string::npos);
  EXPECT_NE(log.find("TFTP: GET " + (client.Path() / Name("got", 0)).string() + "\r\n"), std::string::npos);
  EXPECT_NE(log.find("TFTP: Successful. Total bytes transferred: 15377\r\n"), std::string::npos);
}

TEST_F(TftpClientPeers, PutToTftpdHpa) {
  TempDir served;
  Tftpd server(served.Path(), /*allowCreate=*/true);
  ASSERT_TRUE(server.Started()) << "tftpd-hpa (/usr/sbin/in.tftpd) is missing or did not start";

  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    fs::path local = client.Path() / Name("up", size);
    WriteFile(local, PatternBytes(size, static_cast<unsigned>(size) + 7));
    ToolRun run = Tftp("put", server.Port(), Name("p", size), local);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Success(size));
    // The server may still be closing the file when its last ACK has gone out.
    fs::path arrived = served.Path() / Name("p", size);
    EXPECT_TRUE(WaitUntil([&] {
      return ReadFile(arrived) == PatternBytes(size, static_cast<unsigned>(size) + 7);
    })) << "received "
        << ReadFile(arrived).size() << " bytes";
  }

  ConfigStore ini(client.Path() / "Harbinex.ini");
  EXPECT_EQ(ini.GetProfileString("TLastPut", "RemoteName"), Name("p", kSizes.back()));
  EXPECT_EQ(ini.GetProfileInt("TLastPut", "PortNumber", 0), server.Port());
  EXPECT_EQ(ini.GetProfileString("TLastGet", "Host", "none"), "none");
}

TEST_F(TftpClientPeers, RefusalsOfTftpdHpa) {
  TempDir served;
  Tftpd server(served.Path(), /*allowCreate=*/false);
  ASSERT_TRUE(server.Started()) << "tftpd-hpa (/usr/sbin/in.tftpd) is missing or did not start";

  ToolRun run = Tftp("get", server.Port(), "missing.bin", client.Path() / "missing.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Received error code from peer. Aborting. Error = File not found\n");

  // Without -c the server creates no files.
  WriteFile(client.Path() / "new.bin", "new");
  run = Tftp("put", server.Port(), "new.bin", client.Path() / "new.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error received from peer: File not found\n");
  EXPECT_FALSE(fs::exists(served.Path() / "new.bin"));
}

TEST_F(TftpClientPeers, RefusedGetKeepsTheLocalFileAndASuccessReplacesIt) {
  WriteIni(client.Path(), {"TFTP/TTimeout=2", "TFTP/TRetries=3", "TFTP/TOverWriteFiles=1"});
  TempDir served;
  TempDir local;
  const std::string fresh = PatternBytes(3000, 21);
  WriteFile(served.Path() / "fresh.bin", fresh);
  Tftpd server(served.Path(), /*allowCreate=*/false);
  ASSERT_TRUE(server.Started()) << "tftpd-hpa (/usr/sbin/in.tftpd) did not start: " << server.Output();

  const fs::path target = local.Path() / "target.bin";
  const std::string old = PatternBytes(2000, 20);
  WriteFile(target, old);
  fs::permissions(target, fs::perms(0640));
  ToolRun run = Tftp("get", server.Port(), "missing.bin", target);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Received error code from peer. Aborting. Error = File not found\n");
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_EQ(Names(local.Path()), std::vector<std::string>{"target.bin"});

  run = Tftp("get", server.Port(), "fresh.bin", target);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(target), fresh);
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(Names(local.Path()), std::vector<std::string>{"target.bin"});
}

TEST_F(TftpClientPeers, GetAndPutWithHarbinex) {
  TempDir serverDir;
  TempDir served;
  WriteIni(serverDir.Path(), {"TFTP/TPort=0", "FTP/FTPServer=0", "TFTP/TDLDir=" + served.Dir(),
                              "TFTP/TMakeNewDirs=1", "TFTP/TOverWriteFiles=0", "TFTP/TTimeout=2"});
  for (size_t size : kSizes)
    WriteFile(served.Path() / Name("h", size), PatternBytes(size, static_cast<unsigned>(size) + 3));
  HarbinexProcess process(serverDir.Path(), /*expectTftp=*/true, /*expectFtp=*/false);

  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    fs::path local = client.Path() / Name("hget", size);
    ToolRun run = Tftp("get", process.TftpPort(), Name("h", size), local);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Success(size));
    EXPECT_EQ(ReadFile(local), PatternBytes(size, static_cast<unsigned>(size) + 3));

    WriteFile(client.Path() / Name("hput", size), PatternBytes(size, static_cast<unsigned>(size) + 5));
    run = Tftp("put", process.TftpPort(), "in/" + Name("hput", size), client.Path() / Name("hput", size));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Success(size));
    fs::path arrived = served.Path() / "in" / Name("hput", size);
    EXPECT_TRUE(
        WaitUntil([&] { return ReadFile(arrived) == PatternBytes(size, static_cast<unsigned>(size) + 5); }));
  }

  // The server's refusals reach the Status column with the server's own texts.
  ToolRun run = Tftp("get", process.TftpPort(), "missing.bin", client.Path() / "missing.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "Received error code from peer. Aborting. Error = File was not found. Aborting transfer\n");
  run = Tftp("put", process.TftpPort(), "in/" + Name("hput", 0), client.Path() / Name("hput", 0));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error received from peer: User asked to overwrite an existing file! Access denied!\n");
  process.Stop();
}

}  // namespace
}  // namespace hx::test
