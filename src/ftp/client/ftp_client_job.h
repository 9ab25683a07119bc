#pragma once

#include <string>

namespace hx::ftpc {

// One transfer of one file, as the starting command hands it to the client worker before its thread starts.
struct FtpClientJob {
  bool put = false;
  std::string host;  // a name or a dotted address
  int port = 21;
  std::string user;
  std::string password;
  std::string localName;   // written by a GET, read by a PUT
  std::string remoteName;  // sent with RETR or STOR unchanged
  bool passive = false;    // the client connects to the server for the data (EPSV, then PASV); else PORT/EPRT
  // FTPS: explicit (AUTH TLS, then PBSZ 0 and PROT P) or implicit (TLS from the first byte).
  enum class Tls { Off, Explicit, Implicit };
  Tls tls = Tls::Off;
  // The server's certificate must have this fingerprint ("SHA256:AB:..."); empty: it is checked against the
  // system's trust store and the host name instead.
  std::string fingerprint;
  bool insecure = false;  // the certificate is not checked at all
};

}  // namespace hx::ftpc
