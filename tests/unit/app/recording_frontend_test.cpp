// The tests' recording front end: what workers on other threads deliver is kept, and a wait for it wakes
// when it arrives and gives up when it does not.
#include "support/recording_frontend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace hx::test {
namespace {

using namespace std::chrono_literals;

TEST(RecordingFrontendTest, WaitsWakeOnWhatAnotherThreadDelivers) {
  RecordingFrontend frontend;
  std::thread worker([&] {
    frontend.CellChanged(1, 3, "RETR a");
    frontend.CellChanged(2, 4, "Transferring");
    frontend.LogEntry(2, "Jan 02 09:03:04 FTP: Connection from 127.0.0.1");
    frontend.MessageBox("Error opening log file");
  });
  EXPECT_TRUE(frontend.WaitForMessage("opening log"));
  EXPECT_TRUE(frontend.WaitForLogEntry("Connection from"));
  worker.join();
  EXPECT_EQ(frontend.Messages(), std::vector<std::string>{"Error opening log file"});
  EXPECT_EQ(frontend.CellTexts(3), std::vector<std::string>{"RETR a"});
  ASSERT_EQ(frontend.LogEntries().size(), 1u);
  EXPECT_EQ(frontend.LogEntries()[0].source, 2);
  EXPECT_TRUE(frontend.Logged("FTP: Connection from 127.0.0.1"));
  // Logged wants the whole end of an entry, not a part of it.
  EXPECT_FALSE(frontend.Logged("Connection from"));
  // A text that never comes ends the wait when its bound passes.
  EXPECT_FALSE(frontend.WaitForMessage("never shown", 20ms));
  EXPECT_FALSE(frontend.WaitForLogEntry("never logged", 20ms));
}

}  // namespace
}  // namespace hx::test
