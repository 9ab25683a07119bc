#pragma once

// Section and key names of the configuration file, and the defaults that start-up writes. Readers pass
// their own read default at the place of use.
namespace hx::cfg {

inline constexpr const char* kGeneral = "General";
inline constexpr const char* kTftp = "TFTP";
inline constexpr const char* kFtp = "FTP";
inline constexpr const char* kColumnWidth = "ColumnWidth";
inline constexpr const char* kFLastGet = "FLastGet";
inline constexpr const char* kFLastPut = "FLastPut";
inline constexpr const char* kTLastGet = "TLastGet";
inline constexpr const char* kTLastPut = "TLastPut";

// General
inline constexpr const char* kSystemTray = "SystemTray";
inline constexpr const char* kQuorin = "Quorin";
inline constexpr const char* kLogging = "Logging";
inline constexpr const char* kDebugging = "Debugging";
// 1: the services listen on IPv6 and IPv4 with one socket each; 0: IPv4 only, for hosts without IPv6.
inline constexpr const char* kIPv6 = "IPv6";
// TFTP
inline constexpr const char* kTftpServer = "TFTPServer";
inline constexpr const char* kTMakeNewDirs = "TMakeNewDirs";
inline constexpr const char* kTOverWriteFiles = "TOverWriteFiles";
inline constexpr const char* kTRetries = "TRetries";
inline constexpr const char* kTTimeout = "TTimeout";
inline constexpr const char* kTDLDir = "TDLDir";
inline constexpr const char* kTPort = "TPort";
// FTP
inline constexpr const char* kFtpServer = "FTPServer";
inline constexpr const char* kFAllowUpload = "FAllowUpload";
inline constexpr const char* kFAllowDownload = "FAllowDownload";
inline constexpr const char* kFOverwrite = "FOverwrite";
inline constexpr const char* kAnonAllowed = "AnonAllowed";
inline constexpr const char* kUserSecurity = "UserSecurity";
inline constexpr const char* kFDLDir = "FDLDir";
inline constexpr const char* kFPort = "FPort";
inline constexpr const char* kFDataPort = "FDataPort";
inline constexpr const char* kFIdleTimeout = "FIdleTimeout";
inline constexpr const char* kFDataTimeout = "FDataTimeout";
inline constexpr const char* kFPassive = "FPassive";
inline constexpr const char* kFPassivePorts = "FPassivePorts";
inline constexpr const char* kFPassiveAddress = "FPassiveAddress";
// TLastGet, TLastPut: the TFTP options the client dialog last asked for, as typed; empty asks for none.
inline constexpr const char* kTLastBlockSize = "BlockSize";
inline constexpr const char* kTLastWindowSize = "WindowSize";
inline constexpr const char* kTLastTimeout = "Timeout";

// Debugging mask bits, also the source value of log and debug lines.
inline constexpr int kSourceTftp = 1;
inline constexpr int kSourceFtp = 2;

struct IntKeyDefault {
  const char* section;
  const char* key;
  int startDefault;
};

// The integer keys that start-up normalises, in their order, before the TFTP directory.
inline constexpr IntKeyDefault kStartIntKeys[] = {
    {kGeneral, kSystemTray, 0},    {kGeneral, kQuorin, 1},         {kGeneral, kLogging, 1},
    {kGeneral, kDebugging, 0},     {kTftp, kTftpServer, 1},        {kFtp, kFtpServer, 1},
    {kTftp, kTMakeNewDirs, 1},     {kTftp, kTOverWriteFiles, 0},   {kTftp, kTRetries, 5},
    {kTftp, kTTimeout, 5},         {kTftp, kTPort, 69},            {kFtp, kFPort, 21},
    {kFtp, kFDataPort, 20},        {kGeneral, kIPv6, 1},
};

// Seconds without a command (no transfer running) before an FTP session is closed, and without a byte on a
// data connection before its transfer is aborted; 0 switches either off.
inline constexpr int kDefaultIdleTimeout = 300;
inline constexpr int kDefaultDataTimeout = 300;
// Passive mode (PASV, EPSV) is on; its listeners take any free port ("0") or one of a range ("50000-50100"),
// and announce the control connection's local address unless another one is set (behind NAT).
inline constexpr int kDefaultPassive = 1;
inline constexpr const char* kDefaultPassivePorts = "0";

// The FTP keys normalised after the TFTP directory.
inline constexpr IntKeyDefault kStartFtpKeys[] = {
    {kFtp, kFAllowUpload, 1}, {kFtp, kFAllowDownload, 1}, {kFtp, kFOverwrite, 0},
    {kFtp, kAnonAllowed, 1},  {kFtp, kUserSecurity, 1},   {kFtp, kFIdleTimeout, kDefaultIdleTimeout},
    {kFtp, kFDataTimeout, kDefaultDataTimeout},
    {kFtp, kFPassive, kDefaultPassive},
};

}  // namespace hx::cfg
