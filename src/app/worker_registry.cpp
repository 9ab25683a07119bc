#include "app/worker_registry.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <thread>

#include "app/frontend.h"
#include "app/shown_text.h"

namespace hx {
namespace {

std::string LocalTimeOfDay() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace

WorkerRegistry::WorkerRegistry(Frontend& frontend, unsigned loopThreads)
    : m_loops(loopThreads), m_frontend(frontend) {}

WorkerRegistry::~WorkerRegistry() {
  // A worker is destroyed only after it has finished, so that no handler runs on a half-destroyed session.
  // Workers abandoned by StopAllWorkers are not in the lists any more.
  for (auto* list : {&m_tftpWorkers, &m_ftpWorkers}) {
    for (auto& worker : *list) worker->RequestStop();
    for (auto& worker : *list) worker->Join();
  }
}

void WorkerRegistry::InsertVersionRow(const std::string& status) {
  {
    std::lock_guard guard(m_registryLock);
    m_table.InsertTop(0);
    m_table.SetText(0, kColStatus, status);
  }
  m_frontend.RowInserted(0);
  m_frontend.CellChanged(0, kColStatus, status);
}

void WorkerRegistry::SetFailureLog(std::function<void(WorkerKind, const std::string&)> log) {
  m_failureLog = std::move(log);
}

void WorkerRegistry::KeepCompletedRows(bool keep) {
  std::lock_guard guard(m_registryLock);
  m_keepCompletedRows = keep;
}

void WorkerRegistry::SetKeepFinishedRows(int count) {
  {
    std::lock_guard guard(m_registryLock);
    m_keepFinishedRows = static_cast<size_t>(std::max(0, count));
  }
  ReapFinishedWorkers();
}

Worker* WorkerRegistry::StartWorker(WorkerKind kind, std::unique_ptr<Worker> worker) {
  if (!worker->Create()) {
    ReportStartFailure(kind);
    return nullptr;
  }
  return StartCreated(kind, std::move(worker));
}

Worker* WorkerRegistry::StartCreated(WorkerKind kind, std::unique_ptr<Worker> worker) {
  Worker* raw = worker.get();
  try {
    Add(kind, std::move(worker));
  } catch (const std::bad_alloc&) {
    ReportStartFailure(kind);
    return nullptr;
  }
  raw->Resume();
  return raw;
}

AddressSlot WorkerRegistry::TakeAddressSlot(PerAddress what, const asio::ip::address& peer, int cap) {
  AddressCounts& counts = m_perAddress[static_cast<size_t>(what)];
  AddressSlot slot = counts.TryTake(peer, cap);
  if (slot) return slot;
  ReapFinishedWorkers();
  return counts.TryTake(peer, cap);
}

void WorkerRegistry::ReportStartFailure(WorkerKind kind) {
  auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard guard(m_failureLock);
    auto& last = m_lastFailure[kind == WorkerKind::Tftp ? 0 : 1];
    if (last != std::chrono::steady_clock::time_point{} && now - last < std::chrono::seconds(1)) return;
    last = now;
  }
  bool tftp = kind == WorkerKind::Tftp;
  std::string text = tftp ? "Could not create TFTP session! Insufficient memory?"
                          : "Could not create FTP session! Insufficient memory?";
  if (m_failureLog) m_failureLog(kind, (tftp ? "TFTP: " : "FTP: ") + text);
  m_frontend.MessageBox(text);
}

void WorkerRegistry::AddTftpSession(std::unique_ptr<Worker> worker) {
  Add(WorkerKind::Tftp, std::move(worker));
}

void WorkerRegistry::AddFtpSession(std::unique_ptr<Worker> worker) {
  Add(WorkerKind::Ftp, std::move(worker));
}

void WorkerRegistry::Add(WorkerKind kind, std::unique_ptr<Worker> worker) {
  ReapFinishedWorkers();
  int id;
  std::string startTime = LocalTimeOfDay();
  {
    std::lock_guard guard(m_registryLock);
    auto& list = kind == WorkerKind::Tftp ? m_tftpWorkers : m_ftpWorkers;
    int next = m_nLastSessionId + 1;
    m_table.InsertTop(next);
    try {
      list.push_back(std::move(worker));
    } catch (const std::bad_alloc&) {
      m_table.RemoveUnless([next](int row) { return row != next; });
      throw;
    }
    // Only now that nothing more can fail: ids are never skipped.
    id = m_nLastSessionId = next;
    list.back()->m_nSessionId = id;
    m_table.SetText(id, kColStartTime, startTime);
  }
  m_frontend.RowInserted(id);
  m_frontend.CellChanged(id, kColStartTime, startTime);
}

void WorkerRegistry::SetSessionText(int sessionId, int column, std::string_view text) {
  // Cells show what peers sent (names, replies): escaped here, once, for the window and the console alike.
  std::string shown = EscapeControlChars(text);
  bool changed;
  {
    std::lock_guard guard(m_registryLock);
    changed = m_table.SetText(sessionId, column, shown);
  }
  if (changed) m_frontend.CellChanged(sessionId, column, shown);
}

Worker* WorkerRegistry::FindWorker(int sessionId) const {
  for (const auto* list : {&m_tftpWorkers, &m_ftpWorkers})
    for (const auto& worker : *list)
      if (worker->m_nSessionId == sessionId) return worker.get();
  return nullptr;
}

bool WorkerRegistry::Act(int sessionId, SessionAction action) {
  // Under the lock, so that the worker cannot be reaped between finding it and posting to it; the post
  // itself never waits.
  std::lock_guard guard(m_registryLock);
  Worker* worker = FindWorker(sessionId);
  if (!worker || worker->Finished()) return false;
  worker->Act(action);
  return true;
}

unsigned WorkerRegistry::OfferedActions(int sessionId) const {
  std::lock_guard guard(m_registryLock);
  Worker* worker = FindWorker(sessionId);
  return worker ? worker->OfferedActions() : 0;
}

void WorkerRegistry::ReapFinishedWorkers() {
  std::list<std::unique_ptr<Worker>> finished;
  size_t removedRows = 0;
  std::vector<int> trimmed;
  {
    std::lock_guard guard(m_registryLock);
    for (auto* list : {&m_tftpWorkers, &m_ftpWorkers}) {
      for (auto it = list->begin(); it != list->end();) {
        auto next = std::next(it);
        if ((*it)->Finished()) finished.splice(finished.end(), *list, it);
        it = next;
      }
    }
    if (!m_keepCompletedRows && !finished.empty()) {
      std::vector<int> ended;
      for (const auto& worker : finished) ended.push_back(worker->m_nSessionId);
      std::sort(ended.begin(), ended.end());
      removedRows =
          m_table.RemoveUnless([&](int id) { return !std::binary_search(ended.begin(), ended.end(), id); });
    }
    trimmed = TrimFinishedRowsLocked();
  }
  if (removedRows) m_frontend.RowsRemoved();
  // One notice a row while a few go (one for each new session); a resync when many went at once.
  constexpr size_t kRowNoticesAtMost = 64;
  if (trimmed.size() > kRowNoticesAtMost)
    m_frontend.RowsRemoved();
  else
    for (int id : trimmed) m_frontend.RowRemoved(id);
  // Destroyed outside the lock: closing a session's files must not hold up the others.
  finished.clear();
}

std::vector<int> WorkerRegistry::LiveIds() const {
  std::vector<int> ids{0};
  for (const auto* list : {&m_tftpWorkers, &m_ftpWorkers})
    for (const auto& w : *list) ids.push_back(w->m_nSessionId);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<int> WorkerRegistry::TrimFinishedRowsLocked() {
  if (m_keepFinishedRows == 0 || !m_keepCompletedRows) return {};
  // Every worker has its row, so the finished rows are counted without a look at them.
  size_t running = m_tftpWorkers.size() + m_ftpWorkers.size();
  size_t version = m_table.Find(0) ? 1 : 0;
  size_t rows = m_table.Size();
  if (rows <= version + running + m_keepFinishedRows) return {};
  std::vector<int> live = LiveIds();
  return m_table.RemoveOldest(rows - version - running - m_keepFinishedRows,
                              [&](int id) { return std::binary_search(live.begin(), live.end(), id); });
}

void WorkerRegistry::ClearCompletedSessions() {
  ReapFinishedWorkers();
  size_t removed;
  {
    std::lock_guard guard(m_registryLock);
    if (m_table.Empty()) return;
    std::vector<int> live = LiveIds();
    removed = m_table.RemoveUnless([&](int id) { return std::binary_search(live.begin(), live.end(), id); });
  }
  if (removed) m_frontend.RowsRemoved();
}

size_t WorkerRegistry::StopAllWorkers(std::chrono::milliseconds interval, int maxRequests) {
  size_t abandoned = StopList(m_tftpWorkers, interval, maxRequests);
  return abandoned + StopList(m_ftpWorkers, interval, maxRequests);
}

size_t WorkerRegistry::StopList(std::list<std::unique_ptr<Worker>>& list, std::chrono::milliseconds interval,
                                int maxRequests) {
  int requests = 0;
  for (;;) {
    std::unique_ptr<Worker> worker;
    {
      std::lock_guard guard(m_registryLock);
      if (list.empty()) return 0;
      worker = std::move(list.front());
      list.pop_front();
    }
    if (worker->Finished()) {
      worker.reset();
      continue;
    }
    ++requests;
    worker->RequestStop();
    std::this_thread::sleep_for(interval);
    std::lock_guard guard(m_registryLock);
    list.push_back(std::move(worker));
    if (requests >= maxRequests) {
      // Abandoned: a worker that does not end (held in a message box, say) must not hold up the exit, and
      // its handlers may still run, so its object is never destroyed. The process ends with it.
      size_t abandoned = 0;
      for (auto& w : list) {
        if (w->Finished()) continue;
        (void)w.release();
        ++abandoned;
      }
      list.clear();
      return abandoned;
    }
  }
}

std::vector<SessionRow> WorkerRegistry::Rows() const {
  std::lock_guard guard(m_registryLock);
  return m_table.Rows();
}

std::vector<int> WorkerRegistry::RunningIds() const {
  std::vector<int> ids;
  std::lock_guard guard(m_registryLock);
  for (const auto* list : {&m_tftpWorkers, &m_ftpWorkers})
    for (const auto& w : *list)
      if (!w->Finished()) ids.push_back(w->m_nSessionId);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string WorkerRegistry::CellText(int sessionId, int column) const {
  std::lock_guard guard(m_registryLock);
  const SessionRow* row = m_table.Find(sessionId);
  return row && column >= 0 && column < kSessionColumns ? row->cells[static_cast<size_t>(column)]
                                                        : std::string();
}

size_t WorkerRegistry::WorkerCount(WorkerKind kind) const {
  std::lock_guard guard(m_registryLock);
  return (kind == WorkerKind::Tftp ? m_tftpWorkers : m_ftpWorkers).size();
}

int WorkerRegistry::LastSessionId() const {
  std::lock_guard guard(m_registryLock);
  return m_nLastSessionId;
}

}  // namespace hx
