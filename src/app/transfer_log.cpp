#include "app/transfer_log.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/program_file.h"
#include "app/shown_text.h"

namespace hx {
namespace {

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// Opens for appending, creating the file when missing and never truncating it.
std::FILE* OpenAppend(const std::filesystem::path& path, mode_t newFileMode) {
  int fd = OpenProgramFile(path, O_WRONLY | O_APPEND | O_CREAT, newFileMode);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "ab");
  if (!file) ::close(fd);
  return file;
}

}  // namespace

std::string FormatLogTimeStamp(const std::tm& local) {
  static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %02d, %04d %02d:%02d:%02d", kMonths[local.tm_mon % 12], local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string FormatLogLine(const std::tm& local, std::string_view text) {
  std::string line = FormatLogTimeStamp(local);
  line += ' ';
  line += EscapeControlChars(text);
  line += "\r\n";
  return line;
}

std::string FormatDebugLine(const std::tm& local, std::string_view text) {
  if (!text.ends_with("\r\n")) return FormatLogLine(local, text);
  std::string line = FormatLogLine(local, text.substr(0, text.size() - 2));
  line.insert(line.size() - 2, "\r\n");
  return line;
}

TransferLog::TransferLog(std::filesystem::path appDir, ConfigStore& config, Frontend& frontend)
    : m_appDir(std::move(appDir)), m_config(config), m_frontend(frontend) {}

TransferLog::~TransferLog() {
  Close();
}

void TransferLog::WriteLine(std::FILE* file, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), file);
  std::fflush(file);
}

void TransferLog::OnLogLine(int source, std::string_view text) {
  std::string line = FormatLogLine(LocalNow(), text);
  {
    std::lock_guard guard(m_lock);
    if (m_fileLog) WriteLine(m_fileLog, line);
    if (m_fileDebug && (source & m_nDebugMask)) WriteLine(m_fileDebug, FormatLogLine(LocalNow(), text));
  }
  line.resize(line.size() - 2);  // without the program's CR LF
  m_frontend.LogEntry(source, line);
}

void TransferLog::OnDebugLine(int source, std::string_view text) {
  std::lock_guard guard(m_lock);
  if (m_fileDebug && (source & m_nDebugMask)) WriteLine(m_fileDebug, FormatDebugLine(LocalNow(), text));
}

void TransferLog::Start() {
  if (cfg::Read(m_config, cfg::kLogging) != 0) EnableLogging();
  cfg::Write(m_config, cfg::kDebugging, 0);
  std::lock_guard guard(m_lock);
  m_nDebugMask = 0;
}

bool TransferLog::EnableLogging() {
  cfg::Write(m_config, cfg::kLogging, 1);
  std::FILE* file = OpenAppend(LogPath(), kLogFileMode);
  if (!file) {
    m_frontend.MessageBox("Error opening log file");
    cfg::Write(m_config, cfg::kLogging, 0);
    return false;
  }
  std::lock_guard guard(m_lock);
  if (m_fileLog) std::fclose(m_fileLog);
  m_fileLog = file;
  return true;
}

void TransferLog::DisableLogging() {
  {
    std::lock_guard guard(m_lock);
    if (m_fileLog) std::fclose(m_fileLog);
    m_fileLog = nullptr;
  }
  cfg::Write(m_config, cfg::kLogging, 0);
}

bool TransferLog::EnableDebugging(int mask) {
  std::FILE* file = OpenAppend(DebugPath(), kDebugFileMode);
  if (!file) {
    m_frontend.MessageBox("Error opening debug file");
    cfg::Write(m_config, cfg::kDebugging, 0);
    return false;
  }
  {
    std::lock_guard guard(m_lock);
    if (m_fileDebug) std::fclose(m_fileDebug);
    m_fileDebug = file;
    m_nDebugMask = mask;
  }
  cfg::Write(m_config, cfg::kDebugging, mask);
  return true;
}

void TransferLog::DisableDebugging() {
  {
    std::lock_guard guard(m_lock);
    if (m_fileDebug) std::fclose(m_fileDebug);
    m_fileDebug = nullptr;
    m_nDebugMask = 0;
  }
  cfg::Write(m_config, cfg::kDebugging, 0);
}

void TransferLog::Close() {
  std::lock_guard guard(m_lock);
  if (m_fileLog) std::fclose(m_fileLog);
  if (m_fileDebug) std::fclose(m_fileDebug);
  m_fileLog = m_fileDebug = nullptr;
  m_nDebugMask = 0;
}

bool TransferLog::Logging() const {
  std::lock_guard guard(m_lock);
  return m_fileLog != nullptr;
}

int TransferLog::DebugMask() const {
  std::lock_guard guard(m_lock);
  return m_nDebugMask;
}

}  // namespace hx
