#include "app/blocking_pool.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "app/session_loops.h"
#include "support/harbinex_process.h"

namespace hx {
namespace {

// A session that has started and waits for its work.
class WaitingWorker : public Worker {
 public:
  using Worker::Worker;
  void EndNow() { End(); }
};

struct Results {
  std::mutex lock;
  std::vector<int> values;
  bool allOnStrand = true;
  void Add(int value, bool onStrand) {
    std::lock_guard guard(lock);
    values.push_back(value);
    allOnStrand = allOnStrand && onStrand;
  }
  std::vector<int> Values() {
    std::lock_guard guard(lock);
    return values;
  }
};

// A pool of one thread whose first job holds the thread until Release().
class BlockingPoolTest : public testing::Test {
 protected:
  auto Done() {
    return [this](int value) { results.Add(value, worker.Executor().running_in_this_thread()); };
  }
  // Starts the job that holds the thread, and waits until the thread has it.
  void HoldTheThread() {
    EXPECT_TRUE(pool.Run(
        worker, [released = released] { return released.wait(), 1; }, Done()));
    ASSERT_TRUE(test::WaitUntil([&] { return pool.Waiting() == 0; }));
  }
  void Release() { release.set_value(); }

  SessionLoops loops{2};
  WaitingWorker worker{loops};
  BlockingPool pool{1, 1};
  Results results;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
};

// Room for one waiting job: new work beyond that is refused, the next step of admitted work is not, and
// every result comes back on the session's strand in the order of the queue.
TEST_F(BlockingPoolTest, BoundedQueueAndResultsOnTheStrand) {
  HoldTheThread();
  EXPECT_TRUE(pool.Run(
      worker, [] { return 2; }, Done()));
  EXPECT_FALSE(pool.Run(
      worker, [] { return 3; }, Done()));
  EXPECT_TRUE(pool.Run(
      worker, [] { return 4; }, Done(), BlockingPool::Admission::Continuation));
  Release();
  ASSERT_TRUE(test::WaitUntil([&] { return results.Values().size() == 3; }));
  EXPECT_EQ(results.Values(), (std::vector<int>{1, 2, 4}));
  EXPECT_TRUE(results.allOnStrand);
  worker.EndNow();
  EXPECT_TRUE(test::WaitUntil([&] { return worker.Finished(); }));
}

// Stopping drops the waiting work unrun and releases its session; work that throws ends its session.
TEST_F(BlockingPoolTest, StopDropsWaitingWorkAndAFailureEndsTheSession) {
  HoldTheThread();
  EXPECT_TRUE(pool.Run(
      worker, [] { return 2; }, Done()));
  auto stopping = std::async(std::launch::async, [&] { pool.Stop(); });
  ASSERT_TRUE(test::WaitUntil([&] { return pool.Waiting() == 0; }));
  Release();
  stopping.get();
  EXPECT_FALSE(pool.Run(
      worker, [] { return 3; }, Done()));
  worker.EndNow();
  ASSERT_TRUE(test::WaitUntil([&] { return worker.Finished(); }));
  EXPECT_EQ(results.Values(), std::vector<int>{1});

  WaitingWorker failing(loops);
  BlockingPool second(1, 4);
  EXPECT_TRUE(second.Run(
      failing, []() -> int { throw std::runtime_error("disk gone"); }, Done()));
  EXPECT_TRUE(test::WaitUntil([&] { return failing.Finished(); }));
  EXPECT_EQ(results.Values(), std::vector<int>{1});
}

}  // namespace
}  // namespace hx
