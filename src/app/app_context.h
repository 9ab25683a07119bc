#pragma once

#include <string>

namespace hx {

class ConfigStore;
class FileShareTable;
class Frontend;
class TransferLog;
class WorkerRegistry;
namespace tftp {
class BlockPool;
}

// What a session or a listener is given of the application: the settings, the session table with the worker
// registry, the log, the front end, the table of open files and the memory for TFTP blocks in flight that all
// sessions share. Settings are read where they are used.
struct AppContext {
  std::string appDir;  // the program directory, ending in "/"
  ConfigStore& config;
  WorkerRegistry& registry;
  TransferLog& log;
  Frontend& frontend;
  FileShareTable& shares;
  tftp::BlockPool& blocks;
};

}  // namespace hx
