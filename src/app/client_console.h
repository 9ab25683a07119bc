#pragma once

#include <chrono>
#include <string>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/clock.h"
#include "app/config_store.h"
#include "app/console_frontend.h"
#include "app/file_systems.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "tftp/block_pool.h"

namespace hx {

class Worker;

// The front end of a client command: message boxes go to stderr as "harbinex: TEXT", each one as it comes
// (nothing is folded); on a terminal the session's Bytes and Status are shown as one progress line on stderr,
// rewritten in place at most ten times a second (and at every new Status). Log entries are not echoed: stdout
// carries only the final Status.
class ClientConsole : public ConsoleFrontend {
 public:
  ClientConsole();

  void CellChanged(int sessionId, int column, const std::string& text) override;
  void MessageBox(const std::string& text) override;
  // Ends the progress line, if one is shown.
  void EndProgress();

 private:
  void DrawLocked();

  bool m_showProgress;
  bool m_lineShown = false;
  std::string m_bytes;
  std::string m_status;
  std::chrono::steady_clock::time_point m_lastDraw{};
};

// What a client command needs of the application to run one session as the window would: the settings of
// the program directory, the table of open files, the console front end, the worker registry with its session
// table, and the transfer log (on when the Logging setting is, as at a start of the program).
class ClientCommandApp {
 public:
  explicit ClientCommandApp(const std::string& appDir);
  ~ClientCommandApp();

  AppContext& Context() { return m_context; }
  ClientConsole& Console() { return m_console; }

  // Waits until the worker has ended, ends the progress line and prints the row's last Status on stdout.
  void WaitAndReport(const Worker& worker);

 private:
  ConfigStore m_config;
  FileShareTable m_shares;
  LocalFileSystems m_files;
  tftp::BlockPool m_blocks;
  ClientConsole m_console;
  TransferLog m_log;
  // Declared last so that it is destroyed first: it joins the workers, which use everything above.
  WorkerRegistry m_registry;
  // Stopped before the registry goes: its jobs post to the session loop.
  BlockingPool m_blocking;
  TextSizeCache m_textSizes;
  SteadyClock m_clock;
  AppContext m_context;
};

}  // namespace hx
