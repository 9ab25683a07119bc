// The server inside the test's own process, so that what a session shows in its row (Type, Peer, Command,
// Status, Bytes) and what it writes to the log and the debug trace can be read directly.
#include <fstream>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/clock.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/network_thread.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "ftp/server/ftp_listener.h"
#include "ftp_test_support.h"
#include "support/recording_frontend.h"
#include "tftp/block_pool.h"

namespace hx::test {
namespace {

// "127.0.0.1:40000": the address, then a port number.
bool IsAddressWithPort(const std::string& cell, const std::string& addressAndColon) {
  return cell.starts_with(addressAndColon) && cell.size() > addressAndColon.size() &&
         cell.find_first_not_of("0123456789", addressAndColon.size()) == std::string::npos;
}

class FtpSessionCellsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(Root());
    m_config.WriteProfileString(cfg::kFtp, cfg::kFDLDir.key, Root().string() + "/");
    m_config.WriteProfileInt(cfg::kFtp, cfg::kFPort.key, 0);
    m_config.WriteProfileInt(cfg::kFtp, cfg::kFDataPort.key, 0);
    m_config.WriteProfileInt(cfg::kFtp, cfg::kAnonAllowed.key, 1);
    m_config.WriteProfileInt(cfg::kFtp, cfg::kUserSecurity.key, 0);
    m_config.WriteProfileInt(cfg::kGeneral, cfg::kQuorin.key, 0);
    m_listener = m_network.RunSync([this] { return MakeFtpListener(m_context, m_network.Context()); });
    ASSERT_TRUE(m_network.RunSync([this] { return m_listener->Open(); }));
  }
  void TearDown() override {
    m_network.RunSync([this] { m_listener.reset(); });
    m_registry.StopAllWorkers(std::chrono::milliseconds(10), 500);
    m_log.Close();
    EXPECT_EQ(m_frontend.Messages(), std::vector<std::string>{});
  }

  std::filesystem::path Root() const { return m_dir.Path() / "root"; }
  std::unique_ptr<ControlClient> Login() {
    auto client = std::make_unique<ControlClient>(m_listener->Port());
    EXPECT_EQ(client->Line(), "220 Vantrel FTP Server Version 1.1\r\n");
    EXPECT_EQ(client->Command("USER someone"), "331 User name ok, need password\r\n");
    EXPECT_EQ(client->Command("PASS pass word"), "230 User logged in\r\n");
    return client;
  }
  std::string Cell(int column) const { return m_registry.CellText(m_registry.LastSessionId(), column); }
  bool WaitForCell(int column, const std::string& text) const {
    return WaitUntil([&] { return Cell(column) == text; });
  }

  TempDir m_dir;
  RecordingFrontend m_frontend;
  ConfigStore m_config{m_dir.Path() / "Harbinex.ini"};
  LocalFileSystems m_files;
  WorkerRegistry m_registry{m_frontend};
  TransferLog m_log{m_dir.Path(), m_config, m_frontend};
  FileShareTable m_shares;
  BlockingPool m_blocking;  // after the registry, so that it is stopped first
  TextSizeCache m_textSizes;
  tftp::BlockPool m_blocks;
  SteadyClock m_clock;
  AppContext m_context{m_dir.Dir(), m_config,    m_registry, m_log,   m_frontend, m_shares,
                       m_blocking,  m_textSizes, m_blocks,   m_clock, m_files};
  NetworkThread m_network;
  std::unique_ptr<Listener> m_listener;
};

TEST_F(FtpSessionCellsTest, RowShowsTypePeerCommandAndStatus) {
  auto client = Login();
  EXPECT_EQ(Cell(kColType), "Ftp Srv");
  EXPECT_TRUE(IsAddressWithPort(Cell(kColPeer), "127.0.0.1:")) << Cell(kColPeer);
  EXPECT_EQ(Cell(kColCommand), "PASS ****");
  EXPECT_EQ(Cell(kColStatus), "230 User logged in");
  client->Send("HELP\r\n");
  client->Lines(31);
  EXPECT_EQ(Cell(kColStatus), "214 Help command successful");
  EXPECT_EQ(Cell(kColCommand), "HELP");
  EXPECT_EQ(client->Command("xyzABOR"), "225 No transfer to abort.\r\n");
  EXPECT_EQ(Cell(kColCommand), "ABOR");  // what is left of the line once the ABOR rule applied
  EXPECT_EQ(client->Command("FOO bar"), "502 Command FOO bar not implemented\r\n");
  EXPECT_EQ(Cell(kColStatus), "502 Command FOO bar not implemented");
  EXPECT_EQ(Cell(kColCommand), "FOO bar");
  EXPECT_EQ(client->Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(client->WaitClosed());
  // The row stays with the last reply once the session has ended.
  EXPECT_EQ(Cell(kColStatus), "221 Service closing control connection");
}

// The goodbye does not hide a transfer that failed: the row shows the refusal again, unless a transfer
// succeeded since.
TEST_F(FtpSessionCellsTest, FailedTransferKeepsItsStatusPastQuit) {
  std::ofstream(Root() / "here.txt") << "here";
  struct Case {
    std::vector<std::string> commands;  // before QUIT; "RETR here.txt" takes its data
    std::string status;                 // after QUIT
  };
  const std::string missing = "550 File unavailable";
  const std::string goodbye = "221 Service closing control connection";
  const Case cases[] = {
      {{"RETR missing.bin"}, missing},
      {{"RETR missing.bin", "CWD /"}, missing},
      {{"RETR missing.bin", "RETR here.txt"}, goodbye},
      {{"CWD nowhere"}, goodbye},
  };
  for (const Case& c : cases) {
    auto client = Login();
    for (const std::string& command : c.commands) {
      if (command != "RETR here.txt") {
        client->Command(command);
        continue;
      }
      DataListener data;
      EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
      EXPECT_TRUE(client->Command(command).starts_with("150"));
      auto connection = data.Accept();
      EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
    }
    EXPECT_EQ(client->Command("QUIT"), goodbye + "\r\n");
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_EQ(Cell(kColStatus), c.status) << c.commands.back();
  }
}

TEST_F(FtpSessionCellsTest, Ipv6PeerIsServedAndShownCompressed) {
  ASSERT_TRUE(m_log.EnableLogging());
  ControlClient client(m_listener->Port(), /*ipv6=*/true);
  EXPECT_EQ(client.Line(), "220 Vantrel FTP Server Version 1.1\r\n");
  EXPECT_EQ(client.Command("USER someone"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client.Command("PASS pass word"), "230 User logged in\r\n");
  EXPECT_EQ(client.Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_TRUE(IsAddressWithPort(Cell(kColPeer), "[::1]:")) << Cell(kColPeer);
  EXPECT_EQ(client.Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_NE(ReadFile(m_dir.Path() / "Harbinex.log").find("FTP: Connection from ::1\r\n"), std::string::npos);
}

TEST_F(FtpSessionCellsTest, Ipv6OffListensOnIpv4Only) {
  m_config.WriteProfileInt(cfg::kGeneral, cfg::kIPv6.key, 0);
  std::unique_ptr<Listener> ipv4Only =
      m_network.RunSync([this] { return MakeFtpListener(m_context, m_network.Context()); });
  ASSERT_TRUE(m_network.RunSync([&] { return ipv4Only->Open(); }));
  EXPECT_EQ(TcpConnection::Connect(ipv4Only->Port(), /*ipv6=*/true), nullptr);
  ControlClient client(ipv4Only->Port());
  EXPECT_EQ(client.Line(), "220 Vantrel FTP Server Version 1.1\r\n");
  EXPECT_TRUE(WaitUntil([&] { return IsAddressWithPort(Cell(kColPeer), "127.0.0.1:"); }));
  m_network.RunSync([&] { ipv4Only.reset(); });
}

TEST_F(FtpSessionCellsTest, BytesOfDownloadsAndUploads) {
  WriteFile(Root() / "f.bin", std::string(25000, 'f'));
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("REST 100"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll().size(), 24900u);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(Cell(kColBytes), "25000");  // counted from the start of the file
  EXPECT_EQ(Cell(kColFile), "f.bin");
  EXPECT_EQ(Cell(kColPath), Root().string() + "/f.bin");
  EXPECT_TRUE(WaitForCell(kColOutcome, kOutcomeSucceeded));

  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR g.bin"), "150 Opening BINARY mode data connection for g.bin.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send(std::string(12345, 'g'));
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(Cell(kColBytes), "12345");
  EXPECT_EQ(Cell(kColStatus), "226 File transfer successful");
  EXPECT_EQ(Cell(kColFile), "g.bin");
  EXPECT_TRUE(WaitForCell(kColOutcome, kOutcomeSucceeded));
}

TEST_F(FtpSessionCellsTest, EarlyReplyLeavesTheTransferRunningUntilItsDataHasGone) {
  // Larger than what the connection's buffers hold while the client reads nothing.
  constexpr size_t kSize = 32u << 20;
  WriteFile(Root() / "big.bin", std::string(kSize, 'b'));
  m_config.WriteProfileInt(cfg::kGeneral, cfg::kQuorin.key, 1);
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR big.bin"), "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(Cell(kColOutcome), "");  // the data is still on its way
  EXPECT_EQ(connection->ReceiveAll().size(), kSize);
  EXPECT_TRUE(WaitForCell(kColOutcome, kOutcomeSucceeded));
  EXPECT_EQ(Cell(kColBytes), std::to_string(kSize));
  // However the spans went out, the count moved in steps of 5,120 bytes.
  for (const std::string& count : m_frontend.CellTexts(kColBytes)) {
    if (count == std::to_string(kSize)) continue;
    EXPECT_EQ(std::stoull(count) % 5120, 0u) << count;
  }
}

TEST_F(FtpSessionCellsTest, TotalOfDownloadsAndAnnouncedUploads) {
  WriteFile(Root() / "f.bin", std::string(25000, 'f'));
  auto client = Login();
  DataListener data;
  auto transfer = [&](const std::string& command, const std::string& sent) {
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    client->Send(command + "\r\n");
    client->Line();
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    if (sent.empty())
      connection->ReceiveAll();
    else
      connection->Send(sent);
    connection.reset();
    client->Line();
  };
  transfer("RETR f.bin", "");
  EXPECT_EQ(Cell(kColTotal), "");  // type A sends more than the file holds
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  transfer("RETR f.bin", "");
  EXPECT_EQ(Cell(kColTotal), "25000");
  transfer("STOR g.bin", "gg");
  EXPECT_EQ(Cell(kColTotal), "");  // nothing announced
  EXPECT_EQ(client->Command("ALLO 4000"), "202 Command not implemented on this site\r\n");
  transfer("STOR h.bin", std::string(4000, 'h'));
  EXPECT_EQ(Cell(kColTotal), "4000");
  EXPECT_EQ(client->Command("SIZE f.bin"), "213 25000\r\n");
  transfer("STOR f.bin", std::string(300, 'f'));
  EXPECT_EQ(Cell(kColTotal), "25000");
}

TEST_F(FtpSessionCellsTest, LogFileAndDebugTrace) {
  ASSERT_TRUE(m_log.EnableLogging());
  ASSERT_TRUE(m_log.EnableDebugging(cfg::kSourceFtp));
  m_config.WriteProfileInt(cfg::kGeneral, cfg::kDebugging.key, cfg::kSourceFtp);
  WriteFile(Root() / "f.bin", std::string(10240, 'f'));
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll().size(), 10240u);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(client->Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(client->WaitClosed());

  std::string log = ReadFile(m_dir.Path() / "Harbinex.log");
  for (const char* entry :
       {" FTP: Connection from 127.0.0.1\r\n", " FTP: Login attempt by: someone\r\n",
        " FTP: Login successful\r\n", " FTP: File Transfer successful\r\n", " FTP: Connection closed\r\n"})
    EXPECT_NE(log.find(entry), std::string::npos) << entry << " in\n" << log;

  std::string trace = ReadFile(m_dir.Path() / "Harbinex.dbg");
  EXPECT_EQ(trace.find("pass word"), std::string::npos) << trace;
  for (const char* piece :
       {" Command Received: PASS ****\r\n", " Command Received: NOOP\r\n", " Status: 200 Command OK\r\n",
        " Log entry: FTP: Login successful\r\n", " Sent 0 bytes, total bytes 0\r\n",
        " Sent 10240 bytes, total bytes 10240\r\n", " Sent 0 bytes, total bytes 10240\r\n",
        " Status: 226 File transfer successful.\r\n"})
    EXPECT_NE(trace.find(piece), std::string::npos) << piece << " in\n" << trace;
  EXPECT_NE(trace.find("FTP: Thread "), std::string::npos);
}

TEST_F(FtpSessionCellsTest, ProgressMovesPerChunk) {
  ASSERT_TRUE(m_log.EnableDebugging(cfg::kSourceFtp));
  m_config.WriteProfileInt(cfg::kGeneral, cfg::kDebugging.key, cfg::kSourceFtp);
  // Sizes around the chunk (10,240 bytes): short, on a boundary, and across several chunks.
  struct Case {
    size_t size;
    std::vector<std::string> sent;  // "chunk/total" of every chunk, in order
  } cases[] = {
      {0, {"0/0", "0/0"}},
      {100, {"0/0", "100/100"}},
      {10240, {"0/0", "10240/10240", "0/10240"}},
      {25000, {"0/0", "10240/10240", "10240/20480", "4520/25000"}},
      {40960, {"0/0", "10240/10240", "10240/20480", "10240/30720", "10240/40960", "0/40960"}},
      {51200, {"0/0", "10240/10240", "10240/20480", "10240/30720", "10240/40960", "10240/51200", "0/51200"}},
  };
  auto client = Login();
  DataListener data;
  for (const auto& c : cases) {
    std::filesystem::resize_file(m_dir.Path() / "Harbinex.dbg", 0);
    WriteFile(Root() / "f.bin", std::string(c.size, 'x'));
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->ReceiveAll().size(), c.size);
    EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
    EXPECT_EQ(Cell(kColBytes), std::to_string(c.size));
    std::vector<std::string> sent;
    std::string trace = ReadFile(m_dir.Path() / "Harbinex.dbg");
    for (size_t at = trace.find(" Sent "); at != std::string::npos; at = trace.find(" Sent ", at + 1)) {
      unsigned long long chunk = 0, total = 0;
      ASSERT_EQ(std::sscanf(trace.c_str() + at, " Sent %llu bytes, total bytes %llu", &chunk, &total), 2);
      sent.push_back(std::to_string(chunk) + "/" + std::to_string(total));
    }
    EXPECT_EQ(sent, c.sent) << c.size;
  }
}

TEST_F(FtpSessionCellsTest, StoppingEndsEverySession) {
  auto idle = Login();
  auto waiting = Login();
  waiting->Send("NOO");
  EXPECT_EQ(m_registry.WorkerCount(WorkerKind::Ftp), 2u);
  EXPECT_EQ(m_registry.StopAllWorkers(std::chrono::milliseconds(10), 500), 0u);  // none abandoned
  EXPECT_TRUE(idle->WaitClosed());
  EXPECT_TRUE(waiting->WaitClosed());
}

}  // namespace
}  // namespace hx::test
