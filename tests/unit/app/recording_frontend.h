#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/frontend.h"

namespace hx::test {

// Records what the core shows, for assertions.
class RecordingFrontend : public Frontend {
 public:
  void MessageBox(const std::string& text) override {
    std::lock_guard guard(m_lock);
    messages.push_back(text);
  }
  void LogEntry(int source, const std::string& line) override {
    std::lock_guard guard(m_lock);
    logEntries.push_back(std::to_string(source) + " " + line);
  }
  std::vector<std::string> Messages() {
    std::lock_guard guard(m_lock);
    return messages;
  }

  std::mutex m_lock;
  std::vector<std::string> messages;
  std::vector<std::string> logEntries;
};

}  // namespace hx::test
