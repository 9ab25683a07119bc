#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace hx::tls {
class TlsContext;
}

namespace hx::ftpd {

class DataTransfer;

// A data connection under PROT P: the server's end of TLS, which must resume the control connection's
// session (same context, same tag) unless FTLSRequireReuse is 0.
struct DataTls {
  std::shared_ptr<tls::TlsContext> context;
  std::string sessionTag;
  bool requireReuse = true;
};

// What a data transfer is told of its session's settings when it starts.
struct TransferSettings {
  // Quorin: 0 sends a download's success reply after the data connection has closed, anything else as soon
  // as it is up.
  int quorin = 0;
  // FDataTimeout: how long the data connection may move no byte before the transfer is aborted; 0 is never.
  std::chrono::seconds dataTimeout{0};
  // Set under PROT P.
  std::optional<DataTls> tls;
};

// The one way a data transfer talks back to its session.
class TransferHost {
 public:
  virtual ~TransferHost() = default;
  // A reply on the control connection, CR LF included.
  virtual void Reply(std::string_view text) = 0;
  // A transfer-log entry.
  virtual void Log(std::string_view text) = 0;
  // The file position reached: the row's Bytes cell.
  virtual void Progress(std::uint64_t bytes) = 0;
  virtual bool DebugOn() const = 0;
  // A line of the debug trace, after the session's "FTP: Thread N" prefix.
  virtual void Debug(std::string_view text) = 0;
  // A message for the operator.
  virtual void Notice(const std::string& text) = 0;
  // The transfer has ended, after its last reply and entry; it may be destroyed once it is Idle().
  virtual void Ended(DataTransfer& transfer) = 0;
};

}  // namespace hx::ftpd
