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

// The fields of the form as typed, the port included.
struct TftpClientForm {
  std::string host;
  std::string port;
  std::string remoteName;
  std::string localName;
};

enum class TftpClientField { Host, Port, RemoteName, LocalName };

struct TftpClientFieldError {
  TftpClientField field;  // where the form puts the focus
  std::string message;    // the message box text
};

// "TFTP GET File Information" / "TFTP PUT File Information", and the section of the last values of a
// direction, "TLastGet" / "TLastPut".
const char* TftpClientTitle(bool put);
const char* TftpClientSection(bool put);

// The values the form offers: the last ones of that direction (Host, LocalName, PortNumber, RemoteName), with
// the TFTP transfer directory as the local name when none was saved, and port 69 on a first use.
TftpClientForm LoadTftpClientForm(const ConfigStore& config, bool put);

// Checks the form in the order host, local name, port, remote name and stops at the first failure: an empty
// field gives "This field cannot be left blank.", a port that is no integer "Please enter an integer.", a port
// outside 1 to 65534 "Please enter an integer between 1 and 65534.". Only emptiness is tested for the texts.
// On success fills `job` (the direction is left as it is).
std::optional<TftpClientFieldError> ValidateTftpClientForm(const TftpClientForm& form, TftpClientJob& job);

// Writes Host, LocalName, PortNumber and RemoteName of the job's direction.
void SaveTftpClientValues(ConfigStore& config, const TftpClientJob& job);

// Starts a client session as the window does after OK: a session filled with the job, the last values saved,
// the thread created suspended (on failure the message box "Could not create TFTP session! Insufficient
// memory?" and nullptr; the values stay saved), registered with its row, resumed, then told to start.
// The registry owns the session.
TftpClientSession* StartTftpClient(AppContext& app, const TftpClientJob& job);

// Whether a client session's last Status says that the file went over completely.
bool TftpClientSucceeded(std::string_view status);

}  // namespace hx::tftp
