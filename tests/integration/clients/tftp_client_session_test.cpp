// The TFTP client session in this process against a server played by the test's own UDP sockets: the
// request, the move to the port the server answers from, strangers turned away with "Unknown transfer ID",
// the dally after a download, a silent server, and the stop request. The session's clock moves only when a
// test moves it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/clock.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/session_table.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "integration/clients/tftp_client_support.h"
#include "support/harbinex_process.h"
#include "support/manual_clock.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/block_pool.h"
#include "tftp/tftp_client_session.h"
#include "tftp/tftp_client_start.h"

namespace hx::test {
namespace {

using namespace std::chrono_literals;
using tftpc::Ack;
using tftpc::Data;
using tftpc::UdpSocket;

std::set<std::string> Names(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

class TftpClientSessionTest : public ::testing::Test {
 protected:
  void Settings(int timeout, int retries) {
    config.WriteProfileInt("TFTP", "TTimeout", timeout);
    config.WriteProfileInt("TFTP", "TRetries", retries);
  }
  tftp::TftpClientSession* Start(bool put, const std::string& host, std::uint16_t port,
                                 const std::string& remote, const std::filesystem::path& local) {
    tftp::TftpClientJob job;
    job.put = put;
    job.host = host;
    job.port = port;
    job.remoteName = remote;
    job.localName = local.string();
    return tftp::StartTftpClient(context, job);
  }
  std::string Cell(const tftp::TftpClientSession* session, int column) {
    return registry.CellText(session->m_nSessionId, column);
  }
  static bool IsUnknownTransferId(const std::optional<tftpc::Datagram>& d) {
    return d && tftpc::OpcodeOf(d->bytes) == 5 && tftpc::NumberOf(d->bytes) == 5 &&
           tftpc::PayloadOf(d->bytes) == "Unknown transfer ID";
  }

  ManualClock clock;  // outlives the sessions, whose timers are its own
  TempDir dir;
  ConfigStore config{dir.Path() / "Harbinex.ini"};
  RecordingFrontend frontend;
  FileShareTable shares;
  TransferLog log{dir.Path(), config, frontend};
  LocalFileSystems files;
  WorkerRegistry registry{frontend};  // after everything its workers use, so that it is destroyed first
  BlockingPool blocking;              // after the registry, so that it is stopped first
  TextSizeCache textSizes;
  tftp::BlockPool blocks;
  AppContext context{dir.Dir(), config,    registry, log,   frontend, shares,
                     blocking,  textSizes, blocks,   clock, files};
};

TEST_F(TftpClientSessionTest, DownloadMovesToTheServersPortTurnsStrangersAwayAndDallies) {
  Settings(/*timeout=*/3, /*retries=*/2);
  UdpSocket wellKnown, transfer, stranger;
  const std::string block1 = tftpc::PatternBytes(512, 1), block2 = tftpc::PatternBytes(100, 2);
  const auto local = dir.Path() / "image.bin";
  auto* session = Start(false, "localhost", wellKnown.Port(), "boot/image.bin", local);
  ASSERT_NE(session, nullptr);

  auto request = wellKnown.Receive();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->bytes, tftpc::Request(1, "boot/image.bin", "octet"));
  std::uint16_t client = request->port;

  transfer.SendTo(client, Data(1, block1));
  auto ack = transfer.Receive();
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->bytes, Ack(1));

  // Once the peer is known, any other source is told off and changes nothing, the server's first port too.
  stranger.SendTo(client, Data(2, "intruder"));
  EXPECT_TRUE(IsUnknownTransferId(stranger.Receive()));
  wellKnown.SendTo(client, Data(2, "intruder"));
  EXPECT_TRUE(IsUnknownTransferId(wellKnown.Receive()));

  transfer.SendTo(client, Data(2, block2));
  ack = transfer.Receive();
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->bytes, Ack(2));
  const std::string success = "TFTP: Successful. Total bytes transferred: 612";
  ASSERT_TRUE(WaitUntil([&] { return Cell(session, kColStatus) == success; }));
  EXPECT_EQ(ReadFile(local), block1 + block2);  // complete and closed at success

  // As if the final ACK were lost: the repeated final block is acknowledged again while the session dallies.
  EXPECT_FALSE(session->Finished());
  transfer.SendTo(client, Data(2, block2));
  ack = transfer.Receive();
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->bytes, Ack(2));
  // The dally lasts one timeout from the final ACK.
  ASSERT_TRUE(clock.WaitForPendingWaits(1));
  clock.Advance(3s - 1ms);
  EXPECT_EQ(clock.PendingWaits(), 1u);
  EXPECT_FALSE(session->Finished());
  clock.Advance(1ms);
  EXPECT_TRUE(WaitUntil([&] { return session->Finished(); }));

  EXPECT_EQ(Cell(session, kColType), "Tftp Client");
  EXPECT_EQ(Cell(session, kColPeer), "localhost:" + std::to_string(wellKnown.Port()));
  EXPECT_EQ(Cell(session, kColFile), "boot/image.bin");
  EXPECT_EQ(Cell(session, kColPath), local.string());
  EXPECT_EQ(Cell(session, kColOutcome), kOutcomeSucceeded);
  EXPECT_EQ(Cell(session, kColBytes), "612");
  EXPECT_EQ(Cell(session, kColCommand), "GET " + local.string());
  EXPECT_EQ(Cell(session, kColStatus), success);
  EXPECT_TRUE(frontend.Logged("TFTP: Outgoing connection to address localhost"));
  EXPECT_TRUE(frontend.Logged("TFTP: GET " + local.string()));
  EXPECT_TRUE(frontend.Logged(success));
  EXPECT_TRUE(frontend.Messages().empty());
  EXPECT_FALSE(transfer.Receive(0ms).has_value());
}

TEST_F(TftpClientSessionTest, UploadStartsAfterTheAckOfBlockZeroFromTheServersPort) {
  Settings(/*timeout=*/3, /*retries=*/2);
  UdpSocket wellKnown, transfer, stranger;
  const std::string content = tftpc::PatternBytes(1024, 9);
  const auto local = dir.Path() / "send.bin";
  WriteFile(local, content);
  auto* session = Start(true, "127.0.0.1", wellKnown.Port(), "up.bin", local);
  ASSERT_NE(session, nullptr);

  auto request = wellKnown.Receive();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->bytes, tftpc::Request(2, "up.bin", "octet"));
  std::uint16_t client = request->port;

  transfer.SendTo(client, Ack(0));
  auto data = transfer.Receive();
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->bytes, Data(1, content.substr(0, 512)));

  stranger.SendTo(client, Ack(1));
  EXPECT_TRUE(IsUnknownTransferId(stranger.Receive()));

  transfer.SendTo(client, Ack(1));
  data = transfer.Receive();
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->bytes, Data(2, content.substr(512)));
  transfer.SendTo(client, Ack(2));
  data = transfer.Receive();  // 1,024 bytes end with an empty block
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->bytes, Data(3, ""));
  transfer.SendTo(client, Ack(3));

  // The sending side is done with the last ACK.
  EXPECT_TRUE(WaitUntil([&] { return session->Finished(); }));
  EXPECT_EQ(Cell(session, kColStatus), "TFTP: Successful. Total bytes transferred: 1024");
  EXPECT_EQ(Cell(session, kColBytes), "1024");
  EXPECT_EQ(Cell(session, kColCommand), "PUT " + local.string());
  EXPECT_EQ(ReadFile(local), content);
  EXPECT_FALSE(wellKnown.Receive(0ms).has_value());
  EXPECT_FALSE(stranger.Receive(0ms).has_value());
}

TEST_F(TftpClientSessionTest, StopRequestEndsTheWaitForTheFirstAnswer) {
  Settings(/*timeout=*/30, /*retries=*/2);  // a guard of a minute, that the stop must not wait for
  UdpSocket silent;
  auto* session = Start(false, "127.0.0.1", silent.Port(), "remote.bin", dir.Path() / "wait.bin");
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(silent.Receive().has_value());
  session->RequestStop();
  EXPECT_TRUE(WaitUntil([&] { return session->Finished(); }, 5s));
}

TEST_F(TftpClientSessionTest, StopInTheMiddleOfADownloadReleasesTheFile) {
  Settings(/*timeout=*/30, /*retries=*/2);
  UdpSocket server;
  const auto local = dir.Path() / "half.bin";
  auto* session = Start(false, "127.0.0.1", server.Port(), "remote.bin", local);
  ASSERT_NE(session, nullptr);
  auto request = server.Receive();
  ASSERT_TRUE(request.has_value());
  server.SendTo(request->port, Data(1, tftpc::PatternBytes(512, 6)));
  ASSERT_TRUE(server.Receive().has_value());  // ACK 1

  session->RequestStop();
  ASSERT_TRUE(WaitUntil([&] { return session->Finished(); }, 5s));
  // An unfinished download leaves no file behind.
  for (const std::string& name : Names(dir.Path()))
    EXPECT_EQ(name.find("half.bin"), std::string::npos) << name;
}

TEST_F(TftpClientSessionTest, PeerThatGoesAwayIsRetriedLikeASilentOne) {
  // After the first answer, a port-unreachable report no longer ends the session: it may as well come from
  // a stranger that was told off. A vanished peer is then noticed by the retry budget.
  Settings(/*timeout=*/1, /*retries=*/1);
  UdpSocket wellKnown;
  auto transfer = std::make_unique<UdpSocket>();
  auto* session = Start(false, "127.0.0.1", wellKnown.Port(), "remote.bin", dir.Path() / "part.bin");
  ASSERT_NE(session, nullptr);
  auto request = wellKnown.Receive();
  ASSERT_TRUE(request.has_value());
  transfer->SendTo(request->port, Data(1, tftpc::PatternBytes(512, 4)));
  ASSERT_TRUE(transfer->Receive().has_value());
  transfer->Close();

  // A timeout: the ACK again, to a port that is gone; another: no retry left.
  for (int timeout = 0; timeout < 2; ++timeout) {
    ASSERT_TRUE(clock.WaitForPendingWaits(1));
    clock.Advance(1s);
  }
  ASSERT_TRUE(WaitUntil([&] { return session->Finished(); }));
  EXPECT_EQ(Cell(session, kColStatus), "No more retries left. Aborting");
  EXPECT_EQ(Cell(session, kColOutcome), kOutcomeFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "part.bin"));  // nothing of an unfinished download stays
}

TEST_F(TftpClientSessionTest, SilentServerEndsAfterTwoTimeoutsWithOneRequest) {
  Settings(/*timeout=*/1, /*retries=*/1);
  WriteFile(dir.Path() / "put.bin", "payload");
  struct Case {
    bool put;
    const char* local;
    int opcode;
    const char* status;
  };
  const Case cases[] = {
      {false, "get.bin", 1, "Error receiving response from host : [10060] Connection timed out"},
      {true, "put.bin", 2, "Error receiving : [10060] Connection timed out"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local);
    UdpSocket silent;
    auto* session = Start(c.put, "127.0.0.1", silent.Port(), "dir/remote.bin", dir.Path() / c.local);
    ASSERT_NE(session, nullptr);
    auto request = silent.Receive();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->bytes, tftpc::Request(c.opcode, "dir/remote.bin", "octet"));
    // The session gives up at twice the timeout, not a moment before.
    ASSERT_TRUE(clock.WaitForPendingWaits(1));
    clock.Advance(2s - 1ms);
    EXPECT_EQ(clock.PendingWaits(), 1u);
    EXPECT_FALSE(session->Finished());
    clock.Advance(1ms);
    ASSERT_TRUE(WaitUntil([&] { return session->Finished(); }));
    EXPECT_EQ(Cell(session, kColStatus), c.status);
    // One request in mode octet, never repeated.
    EXPECT_FALSE(silent.Receive(0ms).has_value());
  }
  EXPECT_EQ(ReadFile(dir.Path() / "put.bin"), "payload");
}

TEST_F(TftpClientSessionTest, FirstDataFromAnotherHostIsTurnedAway) {
  Settings(/*timeout=*/3, /*retries=*/2);
  UdpSocket server;               // 127.0.0.1, where the request goes
  UdpSocket forger("127.0.0.2");  // another host
  const auto local = dir.Path() / "real.bin";
  auto* session = Start(false, "127.0.0.1", server.Port(), "remote.bin", local);
  ASSERT_NE(session, nullptr);
  auto request = server.Receive();
  ASSERT_TRUE(request.has_value());

  // The forged block comes first and would end the transfer at once; it is told off and changes nothing.
  forger.SendTo(request->port, Data(1, "forged"));
  EXPECT_TRUE(IsUnknownTransferId(forger.Receive()));
  server.SendTo(request->port, Data(1, "real data"));
  auto ack = server.Receive();
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->bytes, Ack(1));
  ASSERT_TRUE(
      WaitUntil([&] { return Cell(session, kColStatus) == "TFTP: Successful. Total bytes transferred: 9"; }));
  EXPECT_EQ(ReadFile(local), "real data");
  EXPECT_FALSE(forger.Receive(0ms).has_value());
}

TEST_F(TftpClientSessionTest, OverIpv6TheFirstAnswerMustComeFromTheServersAddress) {
  Settings(/*timeout=*/3, /*retries=*/2);
  UdpSocket server("::1");
  // Another address: an IPv4 sender reaches the client's IPv6 socket as a mapped address.
  UdpSocket forger("127.0.0.1");
  const auto local = dir.Path() / "six.bin";
  auto* session = Start(false, "::1", server.Port(), "remote.bin", local);
  ASSERT_NE(session, nullptr);
  auto request = server.Receive();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->bytes, tftpc::Request(1, "remote.bin", "octet"));

  forger.SendTo(request->port, Data(1, "forged"));
  EXPECT_TRUE(IsUnknownTransferId(forger.Receive()));
  server.SendTo(request->port, Data(1, "over six"));
  auto ack = server.Receive();
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->bytes, Ack(1));
  ASSERT_TRUE(
      WaitUntil([&] { return Cell(session, kColStatus) == "TFTP: Successful. Total bytes transferred: 8"; }));
  EXPECT_EQ(ReadFile(local), "over six");
  EXPECT_EQ(Cell(session, kColPeer), "[::1]:" + std::to_string(server.Port()));
}

}  // namespace
}  // namespace hx::test
