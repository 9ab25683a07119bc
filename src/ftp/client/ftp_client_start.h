#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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
  bool tls = false;      // "TLS": explicit, AUTH TLS after the greeting
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
// name when none was saved; the password is always empty; passive mode and TLS only when they were used last.
FtpClientForm LoadFtpClientForm(const ConfigStore& config, bool put);

// Checks the form in the order host, local name, port, remote name, password, user name, and stops at the
// first failure: an empty field gives "This field cannot be left blank.", a port that is no integer
// "Please enter an integer.", a port outside 1 to 65535 "Please enter an integer between 1 and 65535.". The
// user name, password and remote name go into command lines, so a line break in them is refused as well.
// On success fills `job` (the direction is left as it is), passive mode and TLS included.
std::optional<FtpClientFieldError> ValidateFtpClientForm(const FtpClientForm& form, FtpClientJob& job);

// Writes HostName, LocalName, HostPort, RemoteName, UserID, Passive and TLS (1 or 0) of the job's direction;
// never the password.
void SaveFtpClientValues(ConfigStore& config, const FtpClientJob& job);

// Trust on first use, for the dialog's TLS jobs: the certificate's fingerprint that the user accepted for a
// server is kept in FtpsTrusted, and later jobs to that server are pinned to it.
//
// The fingerprint remembered for host and port, in the form ParseFingerprint gives; nullopt when there is
// none or what is stored is no fingerprint.
std::optional<std::string> TrustedFingerprint(const ConfigStore& config, const std::string& host, int port);
void RememberFingerprint(ConfigStore& config, const std::string& host, int port,
                         const std::string& fingerprint);
// "The server's certificate has the fingerprint SHA256:... Trust it for host:port?"
std::string TrustQuestion(const std::string& fingerprint, const std::string& host, int port);

// How the dialog learns a server's certificate (ProbeCertificate's shape), and how long it waits for it.
using CertificateProbe =
    std::function<std::optional<std::string>(const std::string& host, std::uint16_t port, bool implicit,
                                             std::chrono::seconds limit, std::string& error)>;
inline constexpr std::chrono::seconds kProbeLimit{10};

enum class TrustDecision {
  Start,        // the job may start: pinned, or not a job whose certificate the user decides on
  Declined,     // the user did not trust the certificate: nothing starts
  ProbeFailed,  // the certificate could not be fetched; `error` says why
};
// Pins a TLS job that names no fingerprint and checks its certificate to the fingerprint trusted for its
// server: the remembered one, else the one `probe` finds, once `ask` (given TrustQuestion) said yes; that one
// is remembered from then on. Any other job is left as it is.
TrustDecision PinTrustedCertificate(ConfigStore& config, FtpClientJob& job, const CertificateProbe& probe,
                                    const std::function<bool(const std::string& question)>& ask,
                                    std::string& error);

// Starts a client session as the window does after OK: a worker filled with the job, the last values saved,
// the thread created suspended (on failure the message box "Could not create FTP session! Insufficient
// memory?" and nullptr; the values stay saved), registered with its row, resumed, then told to start.
// The registry owns the worker.
FtpClientWorker* StartFtpClient(AppContext& app, const FtpClientJob& job);

}  // namespace hx::ftpc
