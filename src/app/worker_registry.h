#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/address_counts.h"
#include "app/session_loops.h"
#include "app/session_table.h"
#include "app/worker.h"

namespace hx {

class Frontend;

enum class WorkerKind { Tftp, Ftp };
// What is counted per peer address: TFTP sessions, FTP control connections, passive listeners.
enum class PerAddress { TftpSessions, FtpConnections, PassiveListeners };

// The running and finished workers of both services, the session counter and the session table, all under
// one lock (the registry lock), so that finding a row and writing its cell is one step that clearing can
// never split. Ids run 1, 2, 3... for the life of the process; id 0 is the version row. The registry also
// owns the session loop that every worker runs on.
class WorkerRegistry {
 public:
  // `loopThreads` 0: one per core.
  explicit WorkerRegistry(Frontend& frontend, unsigned loopThreads = 0);
  ~WorkerRegistry();

  SessionLoops& Loops() { return m_loops; }
  // Where the refusal of a session is logged as well ("TFTP: ..." / "FTP: ..." lines); none by default.
  void SetFailureLog(std::function<void(WorkerKind, const std::string&)> log);
  // Without completed rows (headless): the row of a session goes when its worker is reaped, so a server
  // that runs for weeks keeps no more rows than it has sessions.
  void KeepCompletedRows(bool keep);

  // How many rows of finished sessions stay (0: all); beyond it the oldest go, now and whenever finished
  // workers are reaped, so that a server that runs for weeks keeps its memory flat.
  void SetKeepFinishedRows(int count);

  // Inserts the version row (id 0) with its Status text.
  void InsertVersionRow(const std::string& status);

  // Starts a session in the order every creator follows: create it (on failure ReportStartFailure and
  // nullptr), register it with a new row and its start time, resume it. The registry owns the worker from
  // then on.
  Worker* StartWorker(WorkerKind kind, std::unique_ptr<Worker> worker);
  // A session that could not be created: the message box "Could not create TFTP session! Insufficient
  // memory?" or its FTP twin, and the same as a log line, at most once a second per service, so that a
  // flood of requests cannot flood the operator.
  void ReportStartFailure(WorkerKind kind);

  // The second half of StartWorker, for a creator that calls Create itself to tell why it failed: registers
  // the created worker and resumes it; nullptr when there was no memory for its row (reported).
  Worker* StartCreated(WorkerKind kind, std::unique_ptr<Worker> worker);

  // A slot for one more session of `peer`, or an empty slot when the address holds `cap` already (0: no cap).
  // At the cap, finished workers are reaped and the count asked again, so that a session that has ended
  // never counts.
  AddressSlot TakeAddressSlot(PerAddress what, const asio::ip::address& peer, int cap);

  // Registers a created, suspended worker: a new session id and a new top row with the start time.
  void AddTftpSession(std::unique_ptr<Worker> worker);
  void AddFtpSession(std::unique_ptr<Worker> worker);

  // Writes one cell of the row of that session, its control characters escaped (EscapeControlChars); a
  // missing row is not an error.
  void SetSessionText(int sessionId, int column, std::string_view text);

  // The operator's action on session `sessionId`: posted to its worker, never waited for. False when no
  // running worker has that id.
  bool Act(int sessionId, SessionAction action);
  // The actions that session `sessionId` offers now (kOffers... bits); 0 when it is not running.
  unsigned OfferedActions(int sessionId) const;

  // Destroys the workers whose threads have ended; rows stay.
  void ReapFinishedWorkers();
  // Removes the rows of every session that is neither running nor the version row.
  void ClearCompletedSessions();
  // Asks every running worker to stop: per list at most `maxRequests` requests, `interval` apart, counted
  // over all its workers together. Workers still running after that are abandoned (never destroyed); returns
  // how many were.
  size_t StopAllWorkers(std::chrono::milliseconds interval = std::chrono::milliseconds(100),
                        int maxRequests = 25);

  std::vector<SessionRow> Rows() const;
  // The ids of the sessions whose workers have not finished, ascending.
  std::vector<int> RunningIds() const;
  std::string CellText(int sessionId, int column) const;
  size_t WorkerCount(WorkerKind kind) const;
  int LastSessionId() const;

 private:
  void Add(WorkerKind kind, std::unique_ptr<Worker> worker);
  // The ids of the rows that stay when completed ones are cleared, sorted: the version row and every
  // worker's.
  std::vector<int> LiveIds() const;
  // The worker of a session id, or nullptr; under the registry lock.
  Worker* FindWorker(int sessionId) const;
  // Removes the oldest finished rows beyond m_keepFinishedRows; the caller holds the registry lock.
  std::vector<int> TrimFinishedRowsLocked();
  size_t StopList(std::list<std::unique_ptr<Worker>>& list, std::chrono::milliseconds interval,
                  int maxRequests);

  // Before the loop: a handler destroyed with the loop may still hold a slot.
  AddressCounts m_perAddress[3];
  // First in, last out: every worker's handlers run on it until the worker has finished.
  SessionLoops m_loops;
  Frontend& m_frontend;
  std::function<void(WorkerKind, const std::string&)> m_failureLog;
  std::mutex m_failureLock;
  std::chrono::steady_clock::time_point m_lastFailure[2]{};
  bool m_keepCompletedRows = true;
  size_t m_keepFinishedRows = 0;  // 0: every finished row stays until cleared
  mutable std::mutex m_registryLock;
  std::list<std::unique_ptr<Worker>> m_tftpWorkers;
  std::list<std::unique_ptr<Worker>> m_ftpWorkers;
  int m_nLastSessionId = 0;
  SessionTable m_table;
};

}  // namespace hx
