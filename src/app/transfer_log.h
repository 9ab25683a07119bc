#pragma once

#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace hx {

class ConfigStore;
class Frontend;

// "%B %d, %Y %H:%M:%S" in English whatever the locale, e.g. "January 02, 1998 09:05:07".
std::string FormatLogTimeStamp(const std::tm& local);
// The line as it goes to a file: time stamp, a blank, the text with its control characters escaped
// (EscapeControlChars), CR LF. The text may carry a peer's names and replies; the line end is the program's.
std::string FormatLogLine(const std::tm& local, std::string_view text);
// A debug line: the same, except that a CR LF at the very end of the text stays as it is. A debug line that
// quotes a reply or command whole quotes its CR LF too; that is the wire's framing, which the trace has
// always shown as the end of the line (followed by the program's own CR LF), not text of the peer.
std::string FormatDebugLine(const std::tm& local, std::string_view text);

// The modes a new log file and a new debug trace get, whatever the umask: the log may be shared with the
// owner's group, the trace (which quotes commands and replies whole) with nobody.
inline constexpr mode_t kLogFileMode = 0640;
inline constexpr mode_t kDebugFileMode = 0600;

// The transfer log "Harbinex.log" and the debug trace "Harbinex.dbg" of the program directory. Any thread may
// hand in a line; lines are written whole, one at a time, each with one write and a flush, and the caller
// returns only when its line is written. The Logging and Debugging settings mirror the state.
class TransferLog {
 public:
  TransferLog(std::filesystem::path appDir, ConfigStore& config, Frontend& frontend);
  ~TransferLog();

  // A log entry of a worker (source 1 TFTP, 2 FTP): to the log file when logging is on, and to the debug
  // trace as well when the source's bit is in the debugging mask. The front end gets it stamped and escaped
  // as in the file, without the line end.
  void OnLogLine(int source, std::string_view text);
  // A debug line: to the debug trace when the source's bit is in the debugging mask.
  void OnDebugLine(int source, std::string_view text);

  // Start-up: opens the log when Logging is set, and switches debugging off (Debugging = 0).
  void Start();
  // "Enable Logging" switched on: opens the log file. False after the message box "Error opening log file";
  // Logging then reads 0. Logging reads 1 on success.
  bool EnableLogging();
  // "Enable Logging" switched off: closes the log file; Logging = 0.
  void DisableLogging();
  // "Enable Debugging" confirmed with the chosen mask (1, 2 or 3): opens the debug trace. False after the
  // message box "Error opening debug file"; Debugging then reads 0.
  bool EnableDebugging(int mask);
  // "Enable Debugging" switched off, or the warning answered No: closes the trace; Debugging = 0.
  void DisableDebugging();
  // Shut-down: closes both files.
  void Close();

  bool Logging() const;
  int DebugMask() const;
  std::filesystem::path LogPath() const { return m_appDir / "Harbinex.log"; }
  std::filesystem::path DebugPath() const { return m_appDir / "Harbinex.dbg"; }

 private:
  static void WriteLine(std::FILE* file, std::string_view line);

  std::filesystem::path m_appDir;
  ConfigStore& m_config;
  Frontend& m_frontend;
  mutable std::mutex m_lock;  // serialises every write, open and close
  std::FILE* m_fileLog = nullptr;
  std::FILE* m_fileDebug = nullptr;
  int m_nDebugMask = 0;
};

}  // namespace hx
