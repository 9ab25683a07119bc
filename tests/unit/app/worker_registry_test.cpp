#include "app/worker_registry.h"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <atomic>
#include <latch>
#include <memory>

#include "recording_frontend.h"
#include "support/harbinex_process.h"

namespace hx {
namespace {

using namespace std::chrono_literals;

// A worker that runs until stopped. With `ignoreStops` it counts stop requests and goes on.
class IdleWorker : public Worker {
 public:
  explicit IdleWorker(std::atomic<int>* stopRequests = nullptr, bool ignoreStops = false)
      : m_stopRequests(stopRequests), m_ignoreStops(ignoreStops), m_work(asio::make_work_guard(m_io)) {}
  void Finish() {
    asio::post(m_io, [this] { m_work.reset(); });
  }

 protected:
  void OnStopRequest() override {
    if (m_stopRequests) ++*m_stopRequests;
    if (!m_ignoreStops) m_io.stop();
  }

 private:
  std::atomic<int>* m_stopRequests;
  bool m_ignoreStops;
  asio::executor_work_guard<asio::io_context::executor_type> m_work;
};

TEST(WorkerRegistryTest, IdsAscendAndNewestRowIsOnTop) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.InsertVersionRow("Harbinex V1.1.007.");
  auto* a = static_cast<IdleWorker*>(registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>()));
  auto* b = static_cast<IdleWorker*>(registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>()));
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

TEST(WorkerRegistryTest, ClearingKeepsVersionRowAndRunningSessionsOnly) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  registry.InsertVersionRow("v");
  registry.ClearCompletedSessions();  // only the version row: nothing goes
  ASSERT_EQ(registry.Rows().size(), 1u);

  std::vector<IdleWorker*> ended;
  for (int i = 0; i < 3; ++i)
    ended.push_back(static_cast<IdleWorker*>(registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>())));
  auto* running = static_cast<IdleWorker*>(registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>()));
  for (auto* w : ended) w->Finish();
  ASSERT_TRUE(test::WaitUntil([&] { return ended[0]->Finished() && ended[1]->Finished() && ended[2]->Finished(); }));

  registry.ClearCompletedSessions();
  auto rows = registry.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, running->m_nSessionId);
  EXPECT_EQ(rows[1].id, 0);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Tftp), 0u);  // reaped before the rows were examined

  // A cleared row takes no more writes, and ids are never reused.
  registry.SetSessionText(1, kColStatus, "late");
  EXPECT_EQ(registry.CellText(1, kColStatus), "");
  auto* next = registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>());
  EXPECT_EQ(next->m_nSessionId, 5);
  static_cast<IdleWorker*>(next)->Finish();
  running->Finish();
}

TEST(WorkerRegistryTest, StopAllWorkersBoundsRequestsAndAbandonsTheStubborn) {
  test::RecordingFrontend frontend;
  WorkerRegistry registry(frontend);
  std::atomic<int> politeRequests{0};
  for (int i = 0; i < 3; ++i)
    registry.StartWorker(WorkerKind::Ftp, std::make_unique<IdleWorker>(&politeRequests, false));
  EXPECT_EQ(registry.StopAllWorkers(1ms), 0u);
  // Each polite worker gets one request; the second visit finds it ended and destroys it.
  EXPECT_EQ(politeRequests.load(), 3);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Ftp), 0u);

  std::atomic<int> stubbornRequests{0};
  auto* stubborn = static_cast<IdleWorker*>(
      registry.StartWorker(WorkerKind::Tftp, std::make_unique<IdleWorker>(&stubbornRequests, true)));
  EXPECT_EQ(registry.StopAllWorkers(1ms), 1u);
  ASSERT_TRUE(test::WaitUntil([&] { return stubbornRequests.load() == 25; }));
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Tftp), 0u);
  // The abandoned worker is ours to end here, so the test leaves no thread behind.
  stubborn->Finish();
  ASSERT_TRUE(test::WaitUntil([&] { return stubborn->Finished(); }));
  delete stubborn;
}

}  // namespace
}  // namespace hx
