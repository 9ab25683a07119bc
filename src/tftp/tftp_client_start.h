#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tftp/tftp_client_job.h"

namespace hx {
struct AppContext;
class ConfigStore;
}  // namespace hx

// What the "TFTP File Information" form offers and accepts, the last values of each direction, and the start
// of a client session, without any toolkit: the window's dialog and `harbinex tftp` both go through here.
namespace hx::tftp {

class TftpClientSession;

// The fields of the form as typed, the port included. An empty option field asks for that option not at all.
struct TftpClientForm {
  std::string host;
  std::string port;
  std::string remoteName;
  std::string localName;
  std::string blockSize;   // blksize
  std::string windowSize;  // windowsize
  std::string timeout;     // timeout, in seconds
};

enum class TftpClientField { Host, Port, RemoteName, LocalName, BlockSize, WindowSize, Timeout };

struct TftpClientFieldError {
  TftpClientField field;  // where the form puts the focus
  std::string message;    // the message box text
};

// "TFTP GET File Information" / "TFTP PUT File Information", and the section of the last values of a
// direction, "TLastGet" / "TLastPut".
const char* TftpClientTitle(bool put);
const char* TftpClientSection(bool put);

// The values the form offers: the last ones of that direction (Host, LocalName, PortNumber, RemoteName,
// BlockSize, WindowSize, Timeout), with the TFTP transfer directory as the local name when none was saved,
// port 69 and no options on a first use.
TftpClientForm LoadTftpClientForm(const ConfigStore& config, bool put);

// Checks the form in the order host, local name, port, remote name and stops at the first failure: an empty
// field gives "This field cannot be left blank.", a port that is no integer "Please enter an integer.", a
// port outside 1 to 65534 "Please enter an integer between 1 and 65534.". Only emptiness is tested for the
// texts. Then block size, window size and timeout: empty is not asked for; otherwise an integer within the
// option's limits (8 to 65464, 1 to 65535, 1 to 255), refused with the same two texts as the port. On success
// fills `job` with `options` (the direction and tsize are left as they are); a refusal fills nothing.
std::optional<TftpClientFieldError> ValidateTftpClientForm(const TftpClientForm& form, TftpClientJob& job);

// Writes Host, LocalName, PortNumber, RemoteName, BlockSize, WindowSize and Timeout of the job's direction
// (an option not asked for as an empty value).
void SaveTftpClientValues(ConfigStore& config, const TftpClientJob& job);

// Starts a client session as the window does after OK: a session filled with the job, the last values saved,
// the thread created suspended (on failure the message box "Could not create TFTP session! Insufficient
// memory?" and nullptr; the values stay saved), registered with its row, resumed, then told to start.
// The registry owns the session.
TftpClientSession* StartTftpClient(AppContext& app, const TftpClientJob& job);

// Whether a client session's last Status says that the file went over completely.
bool TftpClientSucceeded(std::string_view status);

}  // namespace hx::tftp
