#include "ui/signal_quit.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace hx {
namespace {

// The pipe between the handler and the GUI thread; a signal handler can reach nothing else.
int g_pipe[2] = {-1, -1};

}  // namespace

void SignalQuit::Handler(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_pipe[1], &byte, 1);
}

SignalQuit::SignalQuit(std::function<void()> onSignal) : m_onSignal(std::move(onSignal)) {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (m_onSignal) m_onSignal();
  });
  struct sigaction action {};
  action.sa_handler = &SignalQuit::Handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

SignalQuit::~SignalQuit() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  delete m_notifier;
  for (int& fd : g_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

}  // namespace hx
