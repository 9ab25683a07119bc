#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/clock.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/listener.h"
#include "app/network_thread.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "tftp/block_pool.h"

namespace hx {

class Frontend;

inline constexpr const char* kVersionText = "Harbinex V1.1.007.";

// The application: the program directory and its files, the session table with the worker registry, the log,
// the listeners of both services on the network thread, start-up and shut-down.
class ServerApp {
 public:
  struct Services {
    ListenerFactory tftp;
    ListenerFactory ftp;
    // The FTP server's TLS, loaded when the FTP service starts; without it the server offers no TLS.
    std::shared_ptr<tls::ServerTls> ftpTls;
  };

  // Headless, TFTPServer and FTPServer are the operator's alone: a service that cannot start leaves its
  // setting on, so that the next start of a service, which nobody watches, tries again instead of serving
  // nothing.
  enum class Mode { Window, Headless };

  // The keys of a service: whether it is on, its port, and the port it could not have at its last start.
  struct ServiceKeys {
    const char* name;  // "TFTP", "FTP"
    int source;        // the log source
    const cfg::IntSetting& on;
    const cfg::IntSetting& port;
    const cfg::IntSetting& lastStartFailed;
  };

  // `appDir` is the program directory (the executable's, or --dir). `clock`: the one the sessions keep their
  // limits on; the steady clock when null (a test passes a manual one).
  ServerApp(std::filesystem::path appDir, Frontend& frontend, Services services, Mode mode = Mode::Window,
            Clock* clock = nullptr);
  ~ServerApp();

  // Start-up in order: configuration file (one that a headless start makes gets cfg::kHeadlessFirstStart
  // first), the main window's part (version row, log, services by TFTPServer and FTPServer), the normalised
  // keys, the two directories. False after a message box; ExitInstance must still run.
  bool InitInstance();
  // Shut-down: closes the listeners, stops every worker, closes the log. Returns the exit code.
  int ExitInstance();

  // Switches a service; the setting TFTPServer / FTPServer follows the outcome, except headless, where a
  // service that fails to start keeps its setting. A window's start that fails because another socket holds
  // the port remembers the port (TLastStartFailed / FLastStartFailed), so that the next start of the program,
  // which finds the service off, can say why; a start that succeeds forgets it. Returns the new state.
  bool SetTftpService(bool on);
  bool SetFtpService(bool on);
  bool TftpServiceOn() const;
  bool FtpServiceOn() const;
  std::optional<std::uint16_t> TftpPort() const;
  std::optional<std::uint16_t> FtpPort() const;

  AppContext& Context() { return m_context; }
  ConfigStore& Config() { return m_config; }
  WorkerRegistry& Registry() { return m_registry; }
  TransferLog& Log() { return m_log; }
  const std::string& AppDir() const { return m_strAppDir; }
  // Whether this start made the configuration file without a window and wrote cfg::kHeadlessFirstStart.
  bool SafeFirstStart() const { return m_safeFirstStart; }
  // Workers that ignored every stop request at shut-down and still run.
  size_t AbandonedWorkers() const { return m_abandoned; }

 private:
  bool SetService(std::unique_ptr<Listener>& slot, const ListenerFactory& factory, const ServiceKeys& keys,
                  bool on);
  // At a window's start that finds the service off because its port was taken last time: says so in the
  // status bar and the log.
  void ReportPortTakenAtLastStart(const ServiceKeys& keys);
  // Writes the setting as start-up wants it; false after a missing transfer directory has been reported.
  bool StartSetting(const cfg::IntSetting& setting);
  bool StartSetting(const cfg::TextSetting& setting);

  std::string m_strAppDir;
  Frontend& m_frontend;
  Services m_services;
  Mode m_mode;
  ConfigStore m_config;
  WorkerRegistry m_registry;
  TransferLog m_log;
  FileShareTable m_shares;
  // Destroyed before the registry: their jobs post to the session loop.
  BlockingPool m_blocking;
  // Up to kLoginChecksWaiting logins wait for a check; beyond that they are checked on their session loop.
  static constexpr size_t kLoginChecksWaiting = 4096;
  BlockingPool m_passwordChecks{BlockingPool::kThreads, kLoginChecksWaiting};
  TextSizeCache m_textSizes;
  tftp::BlockPool m_blocks;
  SteadyClock m_steadyClock;
  LocalFileSystems m_files;
  AppContext m_context;
  NetworkThread m_network;
  mutable std::mutex m_serviceLock;
  std::unique_ptr<Listener> m_pTftpListener;
  std::unique_ptr<Listener> m_pFtpListener;
  size_t m_abandoned = 0;
  bool m_safeFirstStart = false;
  std::string m_takenFolderNoticed;  // the private folder's name that the operator has been told is taken
};

// The line that a headless first start prints: what cfg::kHeadlessFirstStart left off, and the keys of
// `iniPath` that turn each on.
std::string SafeFirstStartLine(const std::string& iniPath);

}  // namespace hx
