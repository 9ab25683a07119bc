#pragma once

#include <cstdio>
#include <mutex>

#include "app/frontend.h"

namespace hx {

// The front end without a window: message boxes go to stderr as "harbinex: TEXT" and return at once; with
// `echoLog`, every transfer-log entry is printed to stdout with its time stamp.
class ConsoleFrontend : public Frontend {
 public:
  explicit ConsoleFrontend(bool echoLog) : m_echoLog(echoLog) {}

  void LogEntry(int source, const std::string& stampedLine) override;
  void MessageBox(const std::string& text) override;

 protected:
  std::mutex m_outputLock;

 private:
  bool m_echoLog;
};

}  // namespace hx
