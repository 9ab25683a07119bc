// The TFTP service inside the application object: the cells of a session's row over its life, two requests
// from one client port, a transfer that outlives the service being switched off, and the resends to a client
// that falls silent, on a clock the test moves.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>

#include "app/app_context.h"
#include "app/file_systems.h"
#include "app/server_app.h"
#include "app/session_table.h"
#include "support/harbinex_process.h"
#include "support/manual_clock.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/block_pool.h"
#include "tftp/tftp_listener.h"
#include "udp_peer.h"

namespace hx::test {
namespace {

class InProcess : public testing::Test {
 protected:
  void SetUp() override {
    WriteIni(dir.Path(), {"TFTP/TPort=0", "FTP/FTPServer=0", "TFTP/TTimeout=1", "TFTP/TDLDir=" + dir.Dir()});
    app = std::make_unique<ServerApp>(dir.Path(), frontend, ServerApp::Services{MakeTftpListener, {}, {}},
                                      ServerApp::Mode::Window, SessionClock());
    ASSERT_TRUE(app->InitInstance());
    ASSERT_TRUE(app->TftpPort());
    port = *app->TftpPort();
  }
  void TearDown() override { app->ExitInstance(); }
  // The clock of the sessions: the steady one, unless a fixture moves time itself.
  virtual Clock* SessionClock() { return nullptr; }

  // The row of the newest session, once its Status reads `status`.
  std::optional<SessionRow> RowWithStatus(const std::string& status) {
    std::optional<SessionRow> found;
    WaitUntil([&] {
      for (const SessionRow& row : app->Registry().Rows())
        if (row.id != 0 && row.cells[kColStatus] == status) found = row;
      return found.has_value();
    });
    return found;
  }

  ManualClock manualClock;  // outlives the application, whose sessions may hold its timers
  TempDir dir;
  RecordingFrontend frontend;
  std::unique_ptr<ServerApp> app;
  std::uint16_t port = 0;
};

TEST_F(InProcess, RowOfASuccessfulDownload) {
  WriteFile(dir.Path() / "r.bin", std::string(5120 + 20, 'r'));
  UdpPeer client;
  client.SendTo(port, Request(1, "r.bin", "octet"));
  for (std::uint16_t block = 1; block <= 11; ++block) {
    auto data = client.Receive();
    ASSERT_TRUE(data);
    ASSERT_EQ(NumberOf(*data), block);
    client.SendTo(data->port, Ack(block));
  }
  auto row = RowWithStatus("TFTP: Successful. Total bytes transferred: 5140");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->cells[kColType], "Tftp Srv");
  EXPECT_EQ(row->cells[kColPeer], "127.0.0.1:" + std::to_string(client.Port()));
  EXPECT_EQ(row->cells[kColFile], "r.bin");
  EXPECT_EQ(row->cells[kColPath], dir.Dir() + "r.bin");
  EXPECT_EQ(row->cells[kColOutcome], kOutcomeSucceeded);
  EXPECT_EQ(row->cells[kColBytes], "5140");
  EXPECT_EQ(row->cells[kColCommand], "GET " + dir.Dir() + "r.bin");
  EXPECT_EQ(row->cells[kColStartTime].size(), 8u);  // "%H:%M:%S"
}

TEST_F(InProcess, RowOfARefusalAndOfAnotherOpcode) {
  UdpPeer client;
  client.SendTo(port, Request(1, "missing.bin", "octet"));
  ASSERT_TRUE(client.Receive());
  auto row = RowWithStatus("File was not found. Aborting transfer");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->cells[kColCommand], "GET " + dir.Dir() + "missing.bin");
  EXPECT_EQ(row->cells[kColFile], "missing.bin");
  EXPECT_EQ(row->cells[kColOutcome], kOutcomeFailed);

  client.SendTo(port, {0, 5, 0, 0, 0});
  // A row with the cells of the set-up and nothing else.
  ASSERT_TRUE(WaitUntil([&] { return app->Registry().Rows().size() == 3; }));
  ASSERT_TRUE(WaitUntil([&] { return app->Registry().Rows()[0].cells[kColBytes] == "0"; }));
  SessionRow top = app->Registry().Rows()[0];
  EXPECT_EQ(top.cells[kColType], "Tftp Srv");
  EXPECT_EQ(top.cells[kColPeer], "127.0.0.1:" + std::to_string(client.Port()));
  EXPECT_EQ(top.cells[kColFile], "");  // no request, no file
  EXPECT_EQ(top.cells[kColCommand], "");
  EXPECT_EQ(top.cells[kColStatus], "");
}

TEST_F(InProcess, TwoRequestsFromOnePortGetTwoSessionsOnTwoPorts) {
  WriteFile(dir.Path() / "two.bin", "two");
  UdpPeer client;
  client.SendTo(port, Request(1, "two.bin", "octet"));
  client.SendTo(port, Request(1, "two.bin", "octet"));
  auto first = client.Receive();
  auto second = client.Receive();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->port, second->port);
  EXPECT_NE(first->port, port);
  EXPECT_EQ(PayloadOf(*first), "two");
  EXPECT_EQ(PayloadOf(*second), "two");
  client.SendTo(first->port, Ack(1));
  client.SendTo(second->port, Ack(1));
  ASSERT_TRUE(WaitUntil([&] {
    int done = 0;
    for (const SessionRow& row : app->Registry().Rows())
      done += row.cells[kColStatus] == "TFTP: Successful. Total bytes transferred: 3";
    return done == 2;
  }));
}

TEST_F(InProcess, DebugTraceOfATransferWhenTftpDebuggingIsOn) {
  ASSERT_TRUE(app->Log().EnableDebugging(1));
  WriteFile(dir.Path() / "d.bin", "dbg");
  UdpPeer client;
  client.SendTo(port, Request(1, "d.bin", "octet"));
  auto data = client.Receive();
  ASSERT_TRUE(data);
  client.SendTo(data->port, Ack(1));
  ASSERT_TRUE(RowWithStatus("TFTP: Successful. Total bytes transferred: 3"));
  std::string trace = ReadFile(dir.Path() / "Harbinex.dbg");
  for (const char* line : {" TFTP: Connection from address 127.0.0.1\r\n", " bytes, Block Number = 1\r\n",
                           ", Got ACK = 1\r\n", " TFTP: Successful. Total bytes transferred: 3\r\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
  EXPECT_NE(trace.find("TFTP: Thread "), std::string::npos);
}

TEST_F(InProcess, TransferOutlivesTheServiceBeingSwitchedOff) {
  WriteFile(dir.Path() / "long.bin", std::string(1500, 'l'));
  UdpPeer client;
  client.SendTo(port, Request(1, "long.bin", "octet"));
  auto data = client.Receive();
  ASSERT_TRUE(data);

  EXPECT_FALSE(app->SetTftpService(false));
  EXPECT_FALSE(app->TftpServiceOn());
  // The port of the service is closed; the session's own port still answers.
  UdpPeer late;
  late.SendTo(port, Request(1, "long.bin", "octet"));
  EXPECT_FALSE(late.Receive(std::chrono::milliseconds(300)));

  for (std::uint16_t block = 1; block <= 3; ++block) {
    client.SendTo(data->port, Ack(block));
    if (block < 3) {
      data = client.Receive();
      ASSERT_TRUE(data);
      EXPECT_EQ(NumberOf(*data), block + 1);
    }
  }
  EXPECT_TRUE(RowWithStatus("TFTP: Successful. Total bytes transferred: 1500"));
}

// The default private folder removed and its name taken by another user's link: no request reaches the
// link's target, each is refused with a clear text, and the log says so once.
TEST_F(InProcess, SwappedPrivateFolderIsNeverFollowed) {
  ASSERT_TRUE(app->Log().EnableLogging());
  std::string folder = (dir.Path() / ("harbinex-" + std::to_string(::geteuid()))).string();
  app->Config().WriteProfileString("TFTP", "TDLDir", folder + "/");
  UdpPeer first;
  first.SendTo(port, Request(1, "none.bin", "octet"));
  auto notFound = first.Receive();
  ASSERT_TRUE(notFound);
  EXPECT_EQ(ErrorText(*notFound), "File was not found. Aborting transfer");  // made, and empty

  std::filesystem::remove_all(folder);
  TempDir other;
  WriteFile(other.Path() / "secret", "secret");
  std::filesystem::create_directory_symlink(other.Path(), folder);
  GiveToNobody(folder);
  for (int opcode : {2, 1, 2}) {
    UdpPeer client;
    client.SendTo(port, Request(opcode, opcode == 1 ? "secret" : "new.bin", "octet"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(OpcodeOf(*reply), 5);
    EXPECT_EQ(NumberOf(*reply), 0);
    EXPECT_EQ(ErrorText(*reply), "Transfer folder is missing");
  }
  EXPECT_FALSE(std::filesystem::exists(other.Path() / "new.bin"));
  EXPECT_EQ(ReadFile(other.Path() / "secret"), "secret");
  ASSERT_TRUE(RowWithStatus("Transfer folder is missing"));
  std::string log = ReadFile(dir.Path() / "Harbinex.log");
  // The folder is named once; each refusal has its "ERROR." line as every refusal does.
  size_t at = log.find("TFTP: Transfer folder is missing: " + folder);
  EXPECT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find("folder is missing: ", at + 20), std::string::npos) << log;
}

// A hard link beneath the folder to another user's file outside it is refused, unless FollowHardLinks says
// otherwise.
TEST_F(InProcess, HardLinkToAnotherUsersFileIsServedOnlyWhenAllowed) {
  TempDir other;
  WriteFile(other.Path() / "theirs", "theirs");
  GiveToNobody(other.Path() / "theirs");
  std::filesystem::create_hard_link(other.Path() / "theirs", dir.Path() / "linked");
  for (int follow : {0, 1}) {
    app->Config().WriteProfileInt("General", "FollowHardLinks", follow);
    UdpPeer client;
    client.SendTo(port, Request(1, "linked", "octet"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(OpcodeOf(*reply), follow ? 3 : 5) << follow;
    EXPECT_EQ(follow ? PayloadOf(*reply) : ErrorText(*reply), follow ? "theirs" : "File access error")
        << follow;
    if (follow) client.SendTo(reply->port, Ack(1));
  }
}

TEST_F(InProcess, AWindowBeyondTheMemoryLimitIsGrantedSmallerAndItsMemoryComesBack) {
  // A ceiling of 1 MiB holds 16 blocks of 65,464 bytes.
  WriteIni(dir.Path(), {"TFTP/TPort=0", "FTP/FTPServer=0", "TFTP/TTimeout=1", "TFTP/TDLDir=" + dir.Dir(),
                        "TFTP/TMemoryLimit=1"});
  const std::string content(40 * 65464 + 7, 'm');
  WriteFile(dir.Path() / "m.bin", content);
  Bytes request = Request(1, "m.bin", "octet");
  for (std::string text : {"blksize", "65464", "windowsize", "64"}) {
    request.insert(request.end(), text.begin(), text.end());
    request.push_back(0);
  }
  UdpPeer client;
  client.SendTo(port, request);
  auto oack = client.Receive();
  ASSERT_TRUE(oack);
  ASSERT_EQ(OpcodeOf(*oack), 6);
  std::string pairs(oack->bytes.begin() + 2, oack->bytes.end());
  EXPECT_EQ(pairs, std::string("blksize\0"
                               "65464\0windowsize\0"
                               "16\0",
                               28));
  tftp::BlockPool& pool = app->Context().blocks;
  EXPECT_EQ(pool.InUse(), 16u * (4 + 65464));
  // A client that acknowledges every block in order.
  client.SendTo(oack->port, Ack(0));
  std::string received;
  for (int i = 0; i < 500 && received.size() < content.size(); ++i) {
    auto data = client.Receive();
    ASSERT_TRUE(data);
    if (NumberOf(*data) != static_cast<std::uint16_t>(received.size() / 65464 + 1)) continue;
    received += PayloadOf(*data);
    client.SendTo(data->port, Ack(NumberOf(*data)));
  }
  EXPECT_EQ(received, content);
  ASSERT_TRUE(RowWithStatus("TFTP: Successful. Total bytes transferred: " + std::to_string(content.size())));
  EXPECT_TRUE(WaitUntil([&] { return pool.InUse() == 0; }));
}

// Hands out the program's own file systems and counts them.
class CountingFileSystems : public FileSystems {
 public:
  std::shared_ptr<const RootedFileSystem> Beneath(const std::string& root,
                                                  std::shared_ptr<const ServedRoot> held,
                                                  bool followHardLinks) override {
    ++beneath;
    return m_local.Beneath(root, std::move(held), followHardLinks);
  }
  std::shared_ptr<const RootedFileSystem> Unconfined() override { return m_local.Unconfined(); }

  std::atomic<int> beneath{0};

 private:
  LocalFileSystems m_local;
};

// A session reaches the files only through the file system that the application context hands it.
TEST(InProcessFiles, SessionsTakeTheirFileSystemFromTheContext) {
  TempDir dir;
  WriteIni(dir.Path(), {"TFTP/TPort=0", "FTP/FTPServer=0", "TFTP/TDLDir=" + dir.Dir()});
  WriteFile(dir.Path() / "f.bin", "file");
  RecordingFrontend frontend;
  CountingFileSystems files;
  std::unique_ptr<AppContext> context;  // the program's context with `files` in it; outlives the service
  auto listener = [&](AppContext& own, asio::io_context& io) {
    context.reset(new AppContext{own.appDir, own.config, own.registry, own.log, own.frontend, own.shares,
                                 own.blocking, own.textSizes, own.blocks, own.clock, files});
    return MakeTftpListener(*context, io);
  };
  ServerApp app(dir.Path(), frontend, ServerApp::Services{listener, {}, {}});
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(app.TftpPort());
  UdpPeer client;
  client.SendTo(*app.TftpPort(), Request(1, "f.bin", "octet"));
  auto data = client.Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(PayloadOf(*data), "file");
  EXPECT_EQ(files.beneath, 1);
  app.ExitInstance();
}

// The service on a clock that moves only when the test moves it.
class InProcessOnManualClock : public InProcess {
 protected:
  Clock* SessionClock() override { return &manualClock; }
};

TEST_F(InProcessOnManualClock, SilentClientSeesTheBlockThreeTimesThenNothing) {
  using std::chrono::milliseconds;
  app->Config().WriteProfileInt("TFTP", "TRetries", 2);  // TTimeout is 1
  WriteFile(dir.Path() / "q.bin", "quiet");
  UdpPeer client;
  client.SendTo(port, Request(1, "q.bin", "octet"));
  auto first = client.Receive();
  ASSERT_TRUE(first);
  // The block goes again once the timeout has passed and not a moment before, then after twice as long
  // (a sending side doubles its wait); after the retries the session gives up without an ERROR packet.
  struct Step {
    milliseconds wait;
    bool resend;
  };
  const Step steps[] = {{milliseconds(1000), true}, {milliseconds(2000), true}, {milliseconds(4000), false}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.wait.count());
    ASSERT_TRUE(manualClock.WaitForPendingWaits(1));
    manualClock.Advance(step.wait - milliseconds(1));
    EXPECT_EQ(manualClock.PendingWaits(), 1u) << "the timer came early";
    manualClock.Advance(milliseconds(1));
    if (!step.resend) break;
    auto again = client.Receive();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bytes, first->bytes);
  }
  ASSERT_TRUE(RowWithStatus("No more retries left. Aborting"));
  EXPECT_FALSE(client.Receive(milliseconds(0)));
}

}  // namespace
}  // namespace hx::test
