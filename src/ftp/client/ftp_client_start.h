#pragma once

#include <optional>
#include <string>

#include "ftp/client/ftp_client_job.h"

namespace hx {
struct AppContext;
class ConfigStore;
}  // namespace hx

namespace hx::ftpc {

class FtpClientWorker;

// The fields of the "FTP File Information" form as typed, the port included.
struct FtpClientForm {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  std::string remoteName;
  std::string localName;
  bool passive = false;  // "Passive mode"
};

enum class FtpClientField { Host, Port, User, Password, RemoteName, LocalName };

struct FtpClientFieldError {
  FtpClientField field;  // where the form puts the focus
  std::string message;   // the message box text
};

// "FTP GET File Information" / "FTP PUT File Information", and the section of the last values of a direction,
// "FLastGet" / "FLastPut".
const char* FtpClientTitle(bool put);
const char* FtpClientSection(bool put);

// The values the form offers: the last ones of that direction, with the FTP transfer directory as the local
// name when none was saved; the password is always empty; passive mode only when it was used last.
FtpClientForm LoadFtpClientForm(const ConfigStore& config, bool put);

// Checks the form in the order host, local name, port, remote name, password, user name, and stops at the
// first failure: an empty field gives "This field cannot be left blank.", a port that is no integer
// "Please enter an integer.", a port outside 1 to 65535 "Please enter an integer between 1 and 65535.". The
// user name, password and remote name go into command lines, so a line break in them is refused as well.
// On success fills `job` (the direction is left as it is), passive mode included.
std::optional<FtpClientFieldError> ValidateFtpClientForm(const FtpClientForm& form, FtpClientJob& job);

// Writes HostName, LocalName, HostPort, RemoteName, UserID and Passive (1 or 0) of the job's direction; never
// the password.
void SaveFtpClientValues(ConfigStore& config, const FtpClientJob& job);

// Starts a client session as the window does after OK: a worker filled with the job, the last values saved,
// the thread created suspended (on failure the message box "Could not create FTP session! Insufficient
// memory?" and nullptr; the values stay saved), registered with its row, resumed, then told to start.
// The registry owns the worker.
FtpClientWorker* StartFtpClient(AppContext& app, const FtpClientJob& job);

}  // namespace hx::ftpc
