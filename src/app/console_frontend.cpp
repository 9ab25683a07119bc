#include "app/console_frontend.h"

#include "app/shown_text.h"

namespace hx {

ConsoleFrontend::ConsoleFrontend(bool echoLog, std::function<Clock::time_point()> now)
    : m_echoLog(echoLog), m_now(now ? std::move(now) : [] { return Clock::now(); }) {}

ConsoleFrontend::~ConsoleFrontend() {
  FlushNotices();
}

void ConsoleFrontend::LogEntry(int, const std::string& stampedLine) {
  if (!m_echoLog) return;
  std::lock_guard guard(m_outputLock);
  std::fprintf(stdout, "%s\n", stampedLine.c_str());
  std::fflush(stdout);
}

void ConsoleFrontend::MessageBox(const std::string& text) {
  std::lock_guard guard(m_outputLock);
  PrintLinesLocked(m_folder.Add(text, m_now()));
}

void ConsoleFrontend::PrintDueNotices() {
  std::lock_guard guard(m_outputLock);
  PrintLinesLocked(m_folder.Due(m_now()));
}

void ConsoleFrontend::FlushNotices() {
  std::lock_guard guard(m_outputLock);
  PrintLinesLocked(m_folder.Flush());
}

void ConsoleFrontend::PrintLinesLocked(const std::vector<NoticeFolder::Line>& lines) {
  for (const NoticeFolder::Line& line : lines) PrintMessageLocked(FoldedText(line));
}

void ConsoleFrontend::PrintMessageLocked(const std::string& text) {
  // A refusal from an FTP server reaches the operator's terminal here.
  std::fprintf(stderr, "harbinex: %s\n", EscapeControlCharsKeepingLines(text).c_str());
  std::fflush(stderr);
}

}  // namespace hx
