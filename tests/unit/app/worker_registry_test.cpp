#include "app/worker_registry.h"

#include <gtest/gtest.h>

#include <asio/ip/address.hpp>
#include <atomic>
#include <latch>
#include <memory>
#include <vector>

#include "support/harbinex_process.h"
#include "support/recording_frontend.h"

namespace hx {
namespace {

using namespace std::chrono_literals;

// A worker that runs until stopped. With `ignoreStops` it counts stop requests and goes on.
class IdleWorker : public Worker {
 public:
  explicit IdleWorker(SessionLoops& loops, std::atomic<int>* stopRequests = nullptr, bool ignoreStops = false)
      : Worker(loops), m_stopRequests(stopRequests), m_ignoreStops(ignoreStops) {}
  void Finish() {
    Post([this] { End(); });
  }

 protected:
  void Run() override {}
  void OnStopRequest() override {
    if (m_stopRequests) ++*m_stopRequests;
    if (!m_ignoreStops) End();
  }

 private:
  std::atomic<int>* m_stopRequests;
  bool m_ignoreStops;
};

TEST(WorkerRegistryTest, CellsShowControlCharactersEscaped) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.InsertVersionRow("Harbinex V1.1.007.");
  registry.SetSessionText(0, kColCommand, "RETR a\x1b[2Jb\n\xc3\xa9");
  EXPECT_EQ(registry.CellText(0, kColCommand), "RETR a\\x1b[2Jb\\x0a\xc3\xa9");
}

TEST(WorkerRegistryTest, IdsAscendAndNewestRowIsOnTop) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.InsertVersionRow("Harbinex V1.1.007.");
  auto* a = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>(registry.Loops())));
  auto* b = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>(registry.Loops())));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->m_nSessionId, 1);
  EXPECT_EQ(b->m_nSessionId, 2);
  auto rows = registry.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].id, 2);
  EXPECT_EQ(rows[1].id, 1);
  EXPECT_EQ(rows[2].id, 0);
  EXPECT_EQ(rows[2].cells[kColStatus], "Harbinex V1.1.007.");
  EXPECT_EQ(rows[0].cells[kColStartTime].size(), 8u);  // HH:MM:SS
  EXPECT_EQ(rows[0].cells[kColStartTime][2], ':');

  registry.SetSessionText(1, kColStatus, "Sending File");
  EXPECT_EQ(registry.CellText(1, kColStatus), "Sending File");
  a->Finish();
  b->Finish();
}

// A session that offers both actions and ends on the first that reaches it, on its strand.
class ActingWorker : public Worker {
 public:
  explicit ActingWorker(SessionLoops& loops) : Worker(loops) { Offer(kOffersCancel | kOffersDisconnect); }
  std::atomic<int> actions{0};
  std::atomic<bool> disconnected{false};

 protected:
  void Run() override {}
  void OnAction(SessionAction action) override {
    ++actions;
    disconnected = action == SessionAction::Disconnect;
    End();
  }
};

TEST(WorkerRegistryTest, ActionsReachOnlyRunningSessions) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  auto* worker = static_cast<ActingWorker*>(
      registry.StartWorker(WorkerKind::Ftp, std::make_unique<ActingWorker>(registry.Loops())));
  ASSERT_TRUE(worker);
  const int id = worker->m_nSessionId;
  EXPECT_FALSE(registry.Act(id + 1, SessionAction::CancelTransfer));
  EXPECT_EQ(registry.OfferedActions(id + 1), 0u);
  EXPECT_EQ(registry.OfferedActions(id), kOffersCancel | kOffersDisconnect);
  EXPECT_TRUE(registry.Act(id, SessionAction::Disconnect));
  worker->Join();
  EXPECT_TRUE(worker->disconnected);
  // An ended session takes no more actions and offers none.
  EXPECT_FALSE(registry.Act(id, SessionAction::CancelTransfer));
  EXPECT_EQ(registry.OfferedActions(id), 0u);
  EXPECT_EQ(worker->actions, 1);
}

TEST(WorkerRegistryTest, ClearingKeepsVersionRowAndRunningSessionsOnly) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.InsertVersionRow("v");
  registry.ClearCompletedSessions();  // only the version row: nothing goes
  ASSERT_EQ(registry.Rows().size(), 1u);

  std::vector<IdleWorker*> ended;
  for (int i = 0; i < 3; ++i)
    ended.push_back(static_cast<IdleWorker*>(
        registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>(registry.Loops()))));
  auto* running = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>(registry.Loops())));
  for (auto* w : ended) w->Finish();
  ASSERT_TRUE(
      test::WaitUntil([&] { return ended[0]->Finished() && ended[1]->Finished() && ended[2]->Finished(); }));

  registry.ClearCompletedSessions();
  auto rows = registry.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, running->m_nSessionId);
  EXPECT_EQ(rows[1].id, 0);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Tftp), 0u);  // reaped before the rows were examined

  // A cleared row takes no more writes, and ids are never reused.
  registry.SetSessionText(1, kColStatus, "late");
  EXPECT_EQ(registry.CellText(1, kColStatus), "");
  auto* next = registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>(registry.Loops()));
  EXPECT_EQ(next->m_nSessionId, 5);
  static_cast<IdleWorker*>(next)->Finish();
  running->Finish();
}

TEST(WorkerRegistryTest, StopAllWorkersBoundsRequestsAndAbandonsTheStubborn) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  std::atomic<int> politeRequests{0};
  for (int i = 0; i < 3; ++i)
    registry.StartWorker(WorkerKind::Ftp,
                         std::make_unique<IdleWorker>(registry.Loops(), &politeRequests, false));
  EXPECT_EQ(registry.StopAllWorkers(1ms), 0u);
  // Each polite worker gets one request; the second visit finds it ended and destroys it.
  EXPECT_EQ(politeRequests.load(), 3);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Ftp), 0u);

  std::atomic<int> stubbornRequests{0};
  auto* stubborn = static_cast<IdleWorker*>(registry.StartWorker(
      WorkerKind::Tftp, std::make_unique<IdleWorker>(registry.Loops(), &stubbornRequests, true)));
  EXPECT_EQ(registry.StopAllWorkers(1ms), 1u);
  ASSERT_TRUE(test::WaitUntil([&] { return stubbornRequests.load() == 25; }));
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Tftp), 0u);
  // The abandoned worker is ours to end here, so the test leaves no thread behind.
  stubborn->Finish();
  ASSERT_TRUE(test::WaitUntil([&] { return stubborn->Finished(); }));
  delete stubborn;
}

// A session that cannot have what it needs (descriptors, memory).
class UnpreparedWorker : public Worker {
 public:
  using Worker::Worker;

 protected:
  bool Prepare() override { return false; }
};

TEST(WorkerRegistryTest, RefusedSessionsGetNoRowAndAtMostOneReportASecond) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  std::vector<std::string> logged;
  registry.SetFailureLog([&](WorkerKind, const std::string& line) { logged.push_back(line); });
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(registry.StartWorker(WorkerKind::Tftp, std::make_unique<UnpreparedWorker>(registry.Loops())),
              nullptr);
  EXPECT_EQ(registry.StartWorker(WorkerKind::Ftp, std::make_unique<UnpreparedWorker>(registry.Loops())),
            nullptr);
  EXPECT_TRUE(registry.Rows().empty());
  EXPECT_EQ(registry.LastSessionId(), 0);
  EXPECT_EQ(frontend.Messages(),
            (std::vector<std::string>{"Could not create TFTP session! Insufficient memory?",
                                      "Could not create FTP session! Insufficient memory?"}));
  EXPECT_EQ(logged, (std::vector<std::string>{"TFTP: Could not create TFTP session! Insufficient memory?",
                                              "FTP: Could not create FTP session! Insufficient memory?"}));
}

TEST(WorkerRegistryTest, WithoutCompletedRowsASessionsRowGoesWithItsWorker) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.KeepCompletedRows(false);
  registry.InsertVersionRow("v");
  auto* done = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>(registry.Loops())));
  auto* running = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>(registry.Loops())));
  done->Finish();
  ASSERT_TRUE(test::WaitUntil([&] { return done->Finished(); }));
  registry.ReapFinishedWorkers();
  auto rows = registry.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, running->m_nSessionId);
  EXPECT_EQ(rows[1].id, 0);
  running->Finish();
}

TEST(WorkerRegistryTest, SessionsPerAddressAreCappedUntilTheirWorkersEnd) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  auto v4 = asio::ip::make_address("192.0.2.7");
  auto mapped = asio::ip::make_address("::ffff:192.0.2.7");
  auto other = asio::ip::make_address("2001:db8::7");
  // Two sessions of the address run; the mapped form is the same peer.
  std::vector<IdleWorker*> workers;
  for (const auto& peer : {v4, mapped}) {
    AddressSlot slot = registry.TakeAddressSlot(PerAddress::TftpSessions, peer, 2);
    ASSERT_TRUE(slot);
    auto worker = std::make_unique<IdleWorker>(registry.Loops());
    worker->HoldAddressSlot(std::move(slot));
    workers.push_back(static_cast<IdleWorker*>(registry.StartWorker(WorkerKind::Tftp, std::move(worker))));
  }
  EXPECT_FALSE(registry.TakeAddressSlot(PerAddress::TftpSessions, mapped, 2));
  // Another address, another kind and no cap are not held up.
  EXPECT_TRUE(registry.TakeAddressSlot(PerAddress::TftpSessions, other, 2));
  EXPECT_TRUE(registry.TakeAddressSlot(PerAddress::FtpConnections, v4, 2));
  EXPECT_TRUE(registry.TakeAddressSlot(PerAddress::TftpSessions, v4, 0));
  // A session that has ended gives its slot back.
  workers[0]->Finish();
  ASSERT_TRUE(test::WaitUntil([&] { return registry.TakeAddressSlot(PerAddress::TftpSessions, v4, 2); }));
  AddressSlot held = registry.TakeAddressSlot(PerAddress::TftpSessions, v4, 2);
  EXPECT_TRUE(held);
  EXPECT_FALSE(registry.TakeAddressSlot(PerAddress::TftpSessions, v4, 2));
  held.Reset();
  EXPECT_TRUE(registry.TakeAddressSlot(PerAddress::TftpSessions, v4, 2));
  workers[1]->Finish();
}

}  // namespace
}  // namespace hx
