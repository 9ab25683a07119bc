#include "app/client_console.h"

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "app/config_keys.h"
#include "app/session_table.h"
#include "app/worker.h"

namespace hx {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string WithSlash(const std::string& dir) {
  return (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
}

}  // namespace

ClientConsole::ClientConsole()
    : ConsoleFrontend(/*echoLog=*/false), m_showProgress(::isatty(STDERR_FILENO) == 1) {}

void ClientConsole::CellChanged(int, int column, const std::string& text) {
  if (!m_showProgress || (column != kColBytes && column != kColStatus)) return;
  std::lock_guard guard(m_outputLock);
  auto now = std::chrono::steady_clock::now();
  bool newStatus = column == kColStatus && text != m_status;
  (column == kColBytes ? m_bytes : m_status) = text;
  if (!newStatus && now - m_lastDraw < kRedrawInterval) return;
  m_lastDraw = now;
  DrawLocked();
}

void ClientConsole::DrawLocked() {
  std::string line = m_bytes.empty() ? m_status : m_bytes + " bytes  " + m_status;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  m_lineShown = true;
}

void ClientConsole::MessageBox(const std::string& text) {
  std::lock_guard guard(m_outputLock);
  if (m_lineShown) {
    std::fputs("\r\033[K", stderr);
    m_lineShown = false;
  }
  // One session shows a few messages at most, each of them the command's answer: none is folded.
  PrintMessageLocked(text);
}

void ClientConsole::EndProgress() {
  std::lock_guard guard(m_outputLock);
  if (!m_lineShown) return;
  DrawLocked();  // the last values, which the rate limit may have held back
  std::fputs("\n", stderr);
  std::fflush(stderr);
  m_lineShown = false;
}

ClientCommandApp::ClientCommandApp(const std::string& appDir)
    : m_config(std::filesystem::path(appDir) / "Harbinex.ini"),
      m_log(std::filesystem::path(appDir), m_config, m_console),
      m_registry(m_console),
      m_context{WithSlash(appDir), m_config,    m_registry, m_log,   m_console, m_shares,
                m_blocking,        m_textSizes, m_blocks,   m_clock, m_files} {
  if (cfg::ReadAsStarted(m_config, cfg::kLogging) != 0) m_log.EnableLogging();
}

ClientCommandApp::~ClientCommandApp() = default;

void ClientCommandApp::WaitAndReport(const Worker& worker) {
  // The worker ends by itself: every wait of a client session is bounded.
  while (!worker.Finished()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  m_console.EndProgress();
  std::printf("%s\n", m_registry.CellText(worker.m_nSessionId, kColStatus).c_str());
  std::fflush(stdout);
}

}  // namespace hx
