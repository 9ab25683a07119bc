#pragma once

#include <memory>
#include <string>

#include "app/login_throttle.h"
#include "app/reported_once.h"
#include "app/round_robin.h"
#include "app/served_root.h"

namespace hx {

class BlockingPool;
class Clock;
class ConfigStore;
class FileShareTable;
class FileSystems;
class Frontend;
class TextSizeCache;
class TransferLog;
class WorkerRegistry;
namespace tftp {
class BlockPool;
}
namespace tls {
class ServerTls;
}

// What a session or a listener is given of the application: the settings, the session table with the worker
// registry, the log, the front end, the table of open files, the pool for slow file-system work with what it
// has found out, the memory for TFTP blocks in flight that all sessions share, the served folders, held open,
// the clock that every limit of a session is kept on, where the sessions get their file system
// from, the turn of the passive ports, the faults of profiles that have been logged, and the pool for
// password checks. Settings are read where they are used.
struct AppContext {
  std::string appDir;  // the program directory, ending in "/"
  ConfigStore& config;
  WorkerRegistry& registry;
  TransferLog& log;
  Frontend& frontend;
  FileShareTable& shares;
  BlockingPool& blocking;
  TextSizeCache& textSizes;
  tftp::BlockPool& blocks;
  Clock& clock;
  FileSystems& files;
  ServedRoots roots{};
  RoundRobin passivePorts{};        // the next port of the passive range (FPassivePorts) to try first
  LoginThrottle loginThrottle{};    // failed FTP logins per peer address
  ReportedOnce reportedProfiles{};  // profiles whose stored password is in no known form, by name
  // Password checks, which take tens of milliseconds of processor time each, apart from the file-system work
  // of `blocking`, so that neither waits behind the other; nullptr checks on the session loop.
  BlockingPool* passwordChecks = nullptr;
  // The FTP server's TLS; nullptr (as in tests that need none) is TLS that could not be loaded.
  std::shared_ptr<tls::ServerTls> ftpTls{};
};

}  // namespace hx
