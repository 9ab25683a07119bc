#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/config_store.h"

// Every setting of the configuration file, one typed row each: section, key, what start-up writes and the
// default a reader gets when the key is missing. Readers ask by the row (`cfg::Read(config, cfg::kTTimeout)`)
// and never spell a default; start-up walks `kSettings` in its order.
namespace hx::cfg {

inline constexpr const char* kGeneral = "General";
inline constexpr const char* kTftp = "TFTP";
inline constexpr const char* kFtp = "FTP";
inline constexpr const char* kColumnWidth = "ColumnWidth";
inline constexpr const char* kFLastGet = "FLastGet";
inline constexpr const char* kFLastPut = "FLastPut";
inline constexpr const char* kTLastGet = "TLastGet";
inline constexpr const char* kTLastPut = "TLastPut";

// Debugging mask bits, also the source value of log and debug lines.
inline constexpr int kSourceTftp = 1;
inline constexpr int kSourceFtp = 2;

// What start-up does with a key.
enum class Start {
  kNone,         // nothing: the main window or a client dialog writes the key when it has a value
  kKeep,         // a missing key gets the first-start default, a present one is written back as read
  kReset,        // the first-start default is written whatever the file holds
  kTransferDir,  // as kKeep, with the user's private transfer directory as the default
};

template <typename T>
struct Setting {
  // nullptr for the keys of the client dialogs, which live in the dialog's own section (see `In`).
  const char* section;
  const char* key;
  Start start;
  T first;  // what start-up writes (kKeep, kReset)
  T read;   // what a reader gets for a missing key
  // The configuration sheet's default for a missing key, where the sheet reads with another default.
  std::optional<T> sheet = std::nullopt;

  // The same key in the section of a client dialog (TLastGet, TLastPut, FLastGet, FLastPut).
  constexpr Setting In(const char* dialogSection) const {
    Setting s = *this;
    s.section = dialogSection;
    return s;
  }
};
using IntSetting = Setting<int>;
using TextSetting = Setting<const char*>;

inline constexpr Start kNone = Start::kNone;
inline constexpr Start kKeep = Start::kKeep;
inline constexpr Start kReset = Start::kReset;
inline constexpr Start kTransferDir = Start::kTransferDir;

// section, key, start rule, first-start default, read default[, the sheet's read default]
// General
inline constexpr IntSetting kSystemTray{kGeneral, "SystemTray", kKeep, 0, 0};
// Nonzero: a download's final 226 goes out as soon as the data connection is up, so that a transfer cut
// later looks complete to the client; off at first start, a file that holds a value keeps it.
inline constexpr IntSetting kQuorin{kGeneral, "Quorin", kKeep, 0, 0};
// Read before start-up writes it, so a first run logs nothing.
inline constexpr IntSetting kLogging{kGeneral, "Logging", kKeep, 1, 0};
// The debug trace is off after every start.
inline constexpr IntSetting kDebugging{kGeneral, "Debugging", kReset, 0, 0};
// 1: the services listen on IPv6 and IPv4 with one socket each; 0: IPv4 only, for hosts without IPv6.
inline constexpr IntSetting kIPv6{kGeneral, "IPv6", kKeep, 1, 1};
// 0: a file beneath a served folder with more than one hard link is served only when it belongs to the
// program's user (a link to a file outside the folder would otherwise lead out of it); 1: no such check.
inline constexpr IntSetting kFollowHardLinks{kGeneral, "FollowHardLinks", kKeep, 0, 0};
// How many finished rows the session list keeps: beyond it the oldest finished rows leave the list, so that
// a server that runs for weeks keeps its memory flat; 0 keeps every row until "Clear completed".
inline constexpr IntSetting kKeepFinishedRows{kGeneral, "KeepFinishedRows", kKeep, 500, 500};
// Where the main window was when the program last ended: "x,y,width,height,maximised"; empty at first.
inline constexpr TextSetting kWindowPlacement{kGeneral, "WindowPlacement", kNone, "", ""};
// TFTP
inline constexpr IntSetting kTftpServer{kTftp, "TFTPServer", kKeep, 1, 1};
// A transfer creates no directory unless the file says so; the sheet shows a missing key ticked.
inline constexpr IntSetting kTMakeNewDirs{kTftp, "TMakeNewDirs", kKeep, 1, 0, 1};
inline constexpr IntSetting kTOverWriteFiles{kTftp, "TOverWriteFiles", kKeep, 0, 0};
inline constexpr IntSetting kTRetries{kTftp, "TRetries", kKeep, 5, 5};
inline constexpr IntSetting kTTimeout{kTftp, "TTimeout", kKeep, 5, 5};
inline constexpr IntSetting kTPort{kTftp, "TPort", kKeep, 69, 69};
// Internal: the port that another socket held when the window last tried to start the service (0: none).
// The window then stores the service as off; its next start says why, and a start of the service clears it.
inline constexpr IntSetting kTLastStartFailed{kTftp, "TLastStartFailed", kNone, 0, 0};
// 0: the server ignores every option of a request, as before option negotiation existed.
inline constexpr IntSetting kTOptions{kTftp, "TOptions", kKeep, 1, 1};
// The largest block size and window the server grants (blksize, windowsize).
inline constexpr IntSetting kTMaxBlockSize{kTftp, "TMaxBlockSize", kKeep, 65464, 65464};
inline constexpr IntSetting kTMaxWindowSize{kTftp, "TMaxWindowSize", kKeep, 64, 64};
// MiB that the blocks in flight of all TFTP sessions may take together; a request whose window would not fit
// is granted a smaller one.
inline constexpr IntSetting kTMemoryLimit{kTftp, "TMemoryLimit", kKeep, 256, 256};
// Sessions at once from one peer address; 0: no cap.
inline constexpr IntSetting kTPerAddress{kTftp, "TPerAddress", kKeep, 64, 64};
inline constexpr TextSetting kTDLDir{kTftp, "TDLDir", kTransferDir, "", ""};
// The addresses and prefixes that the service lets in, comma-separated ("10.0.0.0/8, 192.168.1.7, fd00::/8");
// empty: every address. Read whole (ReadWhole: a list may be long) for each new request or connection.
inline constexpr TextSetting kTAllow{kTftp, "TAllow", kKeep, "", ""};
// 0: every write request is refused with ERROR 2 "Access violation".
inline constexpr IntSetting kTAllowWrite{kTftp, "TAllowWrite", kKeep, 1, 1};
// FTP
inline constexpr IntSetting kFtpServer{kFtp, "FTPServer", kKeep, 1, 1};
inline constexpr IntSetting kFPort{kFtp, "FPort", kKeep, 21, 21};
// Internal: as TLastStartFailed, for the FTP service.
inline constexpr IntSetting kFLastStartFailed{kFtp, "FLastStartFailed", kNone, 0, 0};
inline constexpr IntSetting kFDataPort{kFtp, "FDataPort", kKeep, 20, 20};
inline constexpr IntSetting kFAllowUpload{kFtp, "FAllowUpload", kKeep, 1, 1};
inline constexpr IntSetting kFAllowDownload{kFtp, "FAllowDownload", kKeep, 1, 1};
inline constexpr IntSetting kFOverwrite{kFtp, "FOverwrite", kKeep, 0, 0};
// A login refuses anonymous unless the file allows it; the sheet shows a missing key ticked.
inline constexpr IntSetting kAnonAllowed{kFtp, "AnonAllowed", kKeep, 1, 0, 1};
inline constexpr IntSetting kUserSecurity{kFtp, "UserSecurity", kKeep, 1, 1};
// Seconds without a command (no transfer running) before an FTP session is closed, and without a byte on a
// data connection before its transfer is aborted; 0 switches either off.
inline constexpr IntSetting kFIdleTimeout{kFtp, "FIdleTimeout", kKeep, 300, 300};
inline constexpr IntSetting kFDataTimeout{kFtp, "FDataTimeout", kKeep, 300, 300};
// Passive mode (PASV, EPSV) is on; its listeners take any free port ("0") or one of a range ("50000-50100"),
// and announce the control connection's local address unless another one is set (behind NAT).
inline constexpr IntSetting kFPassive{kFtp, "FPassive", kKeep, 1, 1};
// Control connections at once from one peer address; 0: no cap.
inline constexpr IntSetting kFPerAddress{kFtp, "FPerAddress", kKeep, 16, 16};
// As TAllow, for FTP control connections; the data connections are bound to their control connection's peer.
inline constexpr TextSetting kFAllow{kFtp, "FAllow", kKeep, "", ""};
// TLS (AUTH TLS, and the implicit port when FImplicitPort is not 0): 0 off, 1 offered, 2 required for every
// login (anonymous too, unless FTLSAnonymousPlain) and every data connection.
inline constexpr IntSetting kFTLS{kFtp, "FTLS", kKeep, 1, 1};
// The server's certificate and key, PEM; a name without a folder is in the program directory. Made at start
// when either is missing and TLS is not off.
inline constexpr TextSetting kFTLSCertificate{kFtp, "FTLSCertificate", kKeep, "Harbinex.crt", "Harbinex.crt"};
inline constexpr TextSetting kFTLSKey{kFtp, "FTLSKey", kKeep, "Harbinex.key", "Harbinex.key"};
// A data connection's TLS session must resume its control connection's; 0 for clients that cannot.
inline constexpr IntSetting kFTLSRequireReuse{kFtp, "FTLSRequireReuse", kKeep, 1, 1};
// With FTLS 2, anonymous logins may still come over a plain connection.
inline constexpr IntSetting kFTLSAnonymousPlain{kFtp, "FTLSAnonymousPlain", kKeep, 0, 0};
// The port of implicit TLS (the handshake before the greeting; 990 is the usual one); 0: none.
inline constexpr IntSetting kFImplicitPort{kFtp, "FImplicitPort", kKeep, 0, 0};
// Also the FTP client's default local directory.
inline constexpr TextSetting kFDLDir{kFtp, "FDLDir", kTransferDir, "", ""};
inline constexpr TextSetting kFPassivePorts{kFtp, "FPassivePorts", kKeep, "0", "0"};
inline constexpr TextSetting kFPassiveAddress{kFtp, "FPassiveAddress", kKeep, "", ""};
// Widths of the session list's columns, written when the window closes. A missing width is scaled from the
// default by the width of the window's font (the defaults suit an 8-point font of 6-pixel letters).
inline constexpr IntSetting kWidthTime{kColumnWidth, "Time", kNone, 0, 65};
inline constexpr IntSetting kWidthType{kColumnWidth, "Type", kNone, 0, 50};
// Peer is wide enough for "127.0.0.1:40000", Bytes for "1,073,741,824"; File came later, so a file
// without it gets its default.
inline constexpr IntSetting kWidthPeer{kColumnWidth, "Peer", kNone, 0, 100};
inline constexpr IntSetting kWidthBytes{kColumnWidth, "Bytes", kNone, 0, 85};
inline constexpr IntSetting kWidthFile{kColumnWidth, "File", kNone, 0, 100};
inline constexpr IntSetting kWidthProgress{kColumnWidth, "Progress", kNone, 0, 120};
inline constexpr IntSetting kWidthCommand{kColumnWidth, "Command", kNone, 0, 80};
inline constexpr IntSetting kWidthStatus{kColumnWidth, "Status", kNone, 0, 80};
// The TFTP client dialog's last values, in TLastGet or TLastPut. An empty local name shows TDLDir.
inline constexpr TextSetting kTLastHost{nullptr, "Host", kNone, "", ""};
inline constexpr IntSetting kTLastPort{nullptr, "PortNumber", kNone, 0, 69};
inline constexpr TextSetting kTLastLocalName{nullptr, "LocalName", kNone, "", ""};
inline constexpr TextSetting kTLastRemoteName{nullptr, "RemoteName", kNone, "", ""};
// The TFTP options the dialog last asked for, as typed; empty asks for none.
inline constexpr TextSetting kTLastBlockSize{nullptr, "BlockSize", kNone, "", ""};
inline constexpr TextSetting kTLastWindowSize{nullptr, "WindowSize", kNone, "", ""};
inline constexpr TextSetting kTLastTimeout{nullptr, "Timeout", kNone, "", ""};
// The FTP client dialog's last values, in FLastGet or FLastPut; the password is never stored. An empty local
// name shows FDLDir.
inline constexpr TextSetting kFLastHost{nullptr, "HostName", kNone, "", ""};
inline constexpr IntSetting kFLastPort{nullptr, "HostPort", kNone, 0, 21};
inline constexpr TextSetting kFLastLocalName{nullptr, "LocalName", kNone, "", ""};
inline constexpr TextSetting kFLastRemoteName{nullptr, "RemoteName", kNone, "", ""};
inline constexpr TextSetting kFLastUser{nullptr, "UserID", kNone, "", "anonymous"};
inline constexpr IntSetting kFLastPassive{nullptr, "Passive", kNone, 0, 0};
// The dialog's "TLS" box.
inline constexpr IntSetting kFLastTls{nullptr, "TLS", kNone, 0, 0};
// The certificates the FTP client dialog was told to trust on first use: one key per server (FtpsTrustedKey),
// its value the certificate's fingerprint, "SHA256:AB:...".
inline constexpr const char* kFtpsTrusted = "FtpsTrusted";
// "host:port". The port follows the last colon, so an IPv6 address goes without brackets: a key that began
// with "[" would read as a section.
inline std::string FtpsTrustedKey(std::string_view host, int port) {
  return std::string(host) + ":" + std::to_string(port);
}

using AnySetting = std::variant<const IntSetting*, const TextSetting*>;

// Every setting; start-up writes them in this order (the file keeps the order of first writes).
inline constexpr AnySetting kSettings[] = {
    &kSystemTray,
    &kQuorin,
    &kLogging,
    &kDebugging,
    &kTftpServer,
    &kFtpServer,
    &kTMakeNewDirs,
    &kTOverWriteFiles,
    &kTRetries,
    &kTTimeout,
    &kTPort,
    &kFPort,
    &kFDataPort,
    &kIPv6,
    &kTOptions,
    &kTMaxBlockSize,
    &kTMaxWindowSize,
    &kTDLDir,
    &kFAllowUpload,
    &kFAllowDownload,
    &kFOverwrite,
    &kAnonAllowed,
    &kUserSecurity,
    &kFIdleTimeout,
    &kFDataTimeout,
    &kFPassive,
    &kFDLDir,
    &kFPassivePorts,
    &kFPassiveAddress,
    &kWidthTime,
    &kWidthType,
    &kWidthPeer,
    &kWidthBytes,
    &kWidthCommand,
    &kWidthStatus,
    &kTLastHost,
    &kTLastPort,
    &kTLastLocalName,
    &kTLastRemoteName,
    &kTLastBlockSize,
    &kTLastWindowSize,
    &kTLastTimeout,
    &kFLastHost,
    &kFLastPort,
    &kFLastLocalName,
    &kFLastRemoteName,
    &kFLastUser,
    &kFLastPassive,
    &kWidthProgress,
    &kWidthFile,
    &kWindowPlacement,
    &kFollowHardLinks,
    &kKeepFinishedRows,
    &kTMemoryLimit,
    &kTPerAddress,
    &kFPerAddress,
    &kFTLS,
    &kFTLSCertificate,
    &kFTLSKey,
    &kFTLSRequireReuse,
    &kFTLSAnonymousPlain,
    &kFImplicitPort,
    &kFLastTls,
    &kTAllow,
    &kTAllowWrite,
    &kFAllow,
};

// What a first start without a window (a service that nobody watches) writes instead of the first-start
// default, so that it opens no drop box to strangers; the window's first start keeps the defaults above.
struct HeadlessFirstStart {
  const IntSetting* setting;
  int value;
  const char* what;  // what the value switches off, for the line that says so
};
inline constexpr HeadlessFirstStart kHeadlessFirstStart[] = {
    {&kAnonAllowed, 0, "anonymous FTP login"},
    {&kFAllowUpload, 0, "anonymous FTP upload"},
    {&kTAllowWrite, 0, "TFTP writes"},
};

// The value of the key as a reader sees it: its read default when the key is missing.
inline int Read(const ConfigStore& config, const IntSetting& s) {
  return config.GetProfileInt(s.section, s.key, s.read);
}
inline std::string Read(const ConfigStore& config, const TextSetting& s) {
  return config.GetProfileString(s.section, s.key, s.read);
}

// The whole value, however long: for the address lists, which a cut would turn into other lists.
inline std::string ReadWhole(const ConfigStore& config, const TextSetting& s) {
  return config.GetWholeProfileString(s.section, s.key, s.read);
}

// As the configuration sheet reads the key when it builds its pages.
template <typename T>
auto ReadOnSheet(const ConfigStore& config, const Setting<T>& s) {
  Setting<T> onSheet = s;
  onSheet.read = s.sheet.value_or(s.read);
  return Read(config, onSheet);
}

// For a program that runs no start-up (the command-line client): a missing key means what a first start
// would have written.
template <typename T>
auto ReadAsStarted(const ConfigStore& config, const Setting<T>& s) {
  Setting<T> started = s;
  started.read = s.first;
  return Read(config, started);
}

// For the readers whose default is known only when they run (a directory of the session or of the user).
inline std::string ReadOr(const ConfigStore& config, const TextSetting& s, std::string_view fallback) {
  return config.GetProfileString(s.section, s.key, fallback);
}

inline void Write(ConfigStore& config, const IntSetting& s, int value) {
  config.WriteProfileInt(s.section, s.key, value);
}
inline void Write(ConfigStore& config, const TextSetting& s, std::string_view value) {
  config.WriteProfileString(s.section, s.key, value);
}

}  // namespace hx::cfg
