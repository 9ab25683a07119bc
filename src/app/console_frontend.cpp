#include "app/console_frontend.h"

#include "app/shown_text.h"

namespace hx {

void ConsoleFrontend::LogEntry(int, const std::string& stampedLine) {
  if (!m_echoLog) return;
  std::lock_guard guard(m_outputLock);
  std::fprintf(stdout, "%s\n", stampedLine.c_str());
  std::fflush(stdout);
}

void ConsoleFrontend::MessageBox(const std::string& text) {
  std::lock_guard guard(m_outputLock);
  // A refusal from an FTP server reaches the operator's terminal here.
  std::fprintf(stderr, "harbinex: %s\n", EscapeControlCharsKeepingLines(text).c_str());
  std::fflush(stderr);
}

}  // namespace hx
