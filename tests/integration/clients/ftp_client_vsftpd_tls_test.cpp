// harbinex ftp get|put with TLS against vsftpd: explicit TLS in passive and active mode with data connections
// that must resume the control connection's session, implicit TLS, the pinned certificate and the refused
// one, and the certificate probe of the client dialog.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ftp/client/certificate_probe.h"
#include "integration/clients/ftp_client_peers.h"
#include "integration/clients/ftp_client_tool.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx::test {
namespace {

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(engine() & 0xFF);
  return bytes;
}

// vsftpd serving `root` to anonymous users over TLS only (logins and data), uploads into root/in, every data
// connection required to resume the control connection's TLS session.
std::string VsftpdConfig(const std::filesystem::path& root, const std::filesystem::path& certificate,
                         const std::filesystem::path& key, bool implicit) {
  return "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nbackground=NO\n"
         "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" +
         root.string() +
         "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_umask=022\nlocal_enable=NO\n"
         "port_enable=YES\npasv_enable=YES\nconnect_from_port_20=NO\nxferlog_enable=NO\n"
         "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nsecure_chroot_dir=/var/run/vsftpd/empty\n"
         "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
         "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
         certificate.string() + "\nrsa_private_key_file=" + key.string() +
         "\nimplicit_ssl=" + (implicit ? "YES" : "NO") + "\n";
}

class VsftpdTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The probe runs in this process, and OpenSSL writes with write(2): SIGPIPE is ignored, as in the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    s_dir = std::make_unique<TempDir>();
    const auto root = s_dir->Path() / "root";
    std::filesystem::create_directories(root / "in");
    // vsftpd's anonymous sessions run as the ftp user: the served tree must be open to it.
    ::chmod(s_dir->Path().c_str(), 0755);
    ::chmod(root.c_str(), 0755);
    ::chmod((root / "in").c_str(), 0777);
    const auto certificate = s_dir->Path() / "server.crt";
    const auto key = s_dir->Path() / "server.key";
    std::string output;
    if (RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", key.string(), "-out", certificate.string(), "-days", "2", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1"},
                   output) != 0) {
      s_problem = "openssl cannot make a certificate: " + output;
      return;
    }
    // "sha256 Fingerprint=AB:CD:..." in the openssl command's words.
    if (RunCommand({"openssl", "x509", "-in", certificate.string(), "-noout", "-fingerprint", "-sha256"},
                   output) != 0 ||
        output.find('=') == std::string::npos) {
      s_problem = "openssl cannot read the certificate: " + output;
      return;
    }
    s_fingerprint = "SHA256:" + output.substr(output.find('=') + 1, 95);
    for (bool implicit : {false, true}) {
      const auto config = s_dir->Path() / (implicit ? "implicit.conf" : "explicit.conf");
      WriteFile(config, VsftpdConfig(root, certificate, key, implicit));
      std::uint16_t& port = implicit ? s_implicitPort : s_explicitPort;
      (implicit ? s_implicit : s_explicit) = StartTcpPeer(
          [&](std::uint16_t free) {
            return std::vector<std::string>{kVsftpd, config.string(),
                                            "-olisten_port=" + std::to_string(free)};
          },
          port);
      if (!(implicit ? s_implicit : s_explicit))
        s_problem = std::string("vsftpd did not start from ") + kVsftpd;
    }
  }
  static void TearDownTestSuite() {
    s_explicit.reset();
    s_implicit.reset();
    s_dir.reset();
  }
  void SetUp() override {
    ASSERT_EQ(s_problem, "");
    WriteIni(app.Path(), {"General/Logging=1"});
  }

  ToolRun Ftp(const std::string& direction, bool implicit, const std::string& remote,
              const std::filesystem::path& local, std::vector<std::string> options) {
    std::vector<std::string> args{"ftp",
                                  direction,
                                  "127.0.0.1:" + std::to_string(implicit ? s_implicitPort : s_explicitPort),
                                  "anonymous",
                                  "guest@example",
                                  remote,
                                  local.string(),
                                  implicit ? "--tls-implicit" : "--tls",
                                  "--dir",
                                  app.Path().string()};
    args.insert(args.end(), options.begin(), options.end());
    return RunHarbinex(args);
  }
  static std::filesystem::path Served(const std::string& name) { return s_dir->Path() / "root" / name; }

  static std::unique_ptr<TempDir> s_dir;
  static std::unique_ptr<PeerProcess> s_explicit;
  static std::unique_ptr<PeerProcess> s_implicit;
  static std::uint16_t s_explicitPort;
  static std::uint16_t s_implicitPort;
  static std::string s_fingerprint;  // of the servers' certificate, as the openssl command reads it
  static std::string s_problem;
  TempDir app;
  TempDir local;
};

std::unique_ptr<TempDir> VsftpdTls::s_dir;
std::unique_ptr<PeerProcess> VsftpdTls::s_explicit;
std::unique_ptr<PeerProcess> VsftpdTls::s_implicit;
std::uint16_t VsftpdTls::s_explicitPort = 0;
std::uint16_t VsftpdTls::s_implicitPort = 0;
std::string VsftpdTls::s_fingerprint;
std::string VsftpdTls::s_problem;

TEST_F(VsftpdTls, GetAndPutWithThePinnedCertificate) {
  struct Case {
    const char* direction;
    bool implicit;
    bool passive;
  };
  const Case cases[] = {
      {"get", false, true},  {"put", false, true}, {"get", false, false},
      {"put", false, false}, {"get", true, true},
  };
  // The digest without colons and in lower case, as some tools print it.
  std::string digest = s_fingerprint.substr(7);
  std::erase(digest, ':');
  for (char& c : digest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string fingerprint = "sha256:" + digest;
  unsigned seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.direction) + (c.implicit ? " implicit" : " explicit") +
                 (c.passive ? " passive" : " active"));
    const std::string content = RandomBytes(700'000 + seed, seed);
    const std::string name = "file" + std::to_string(seed++) + ".bin";
    const bool put = std::string(c.direction) == "put";
    WriteFile(put ? local.Path() / name : Served(name), content);
    std::vector<std::string> options{"--fingerprint", fingerprint};
    if (c.passive) options.push_back("--passive");
    ToolRun run = Ftp(c.direction, c.implicit, put ? "in/" + name : name, local.Path() / name, options);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "221 Goodbye.\n") << run.err;
    EXPECT_TRUE(ReadFile(put ? Served("in/" + name) : local.Path() / name) == content);
  }
  const std::string log = ReadFile(app.Path() / "Harbinex.log");
  EXPECT_NE(log.find("FTP: TLS established (TLSv1."), std::string::npos) << log;
}

TEST_F(VsftpdTls, ACertificateOtherThanThePinnedOneEndsTheSession) {
  const std::string other = "SHA256:" + std::string(64, 'a');
  ToolRun run = Ftp("get", false, "never.bin", local.Path() / "never.bin", {"--fingerprint", other});
  std::string shown = "SHA256:AA";
  for (int i = 1; i < 32; ++i) shown += ":AA";
  const std::string text = "The server's certificate " + s_fingerprint + " is not the expected " + shown;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, text + "\n");
  EXPECT_NE(run.err.find("harbinex: " + text), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(local.Path() / "never.bin"));
}

TEST_F(VsftpdTls, TheTrustStoreRefusesASelfSignedCertificateAndInsecureTakesIt) {
  WriteFile(Served("plain.bin"), "taken without a check");
  ToolRun refused = Ftp("get", false, "plain.bin", local.Path() / "plain.bin", {});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out.rfind("TLS handshake failed: ", 0), 0u) << refused.out;
  EXPECT_NE(refused.out.find("certificate"), std::string::npos) << refused.out;
  EXPECT_FALSE(std::filesystem::exists(local.Path() / "plain.bin"));

  ToolRun insecure = Ftp("get", false, "plain.bin", local.Path() / "plain.bin", {"--insecure"});
  EXPECT_EQ(insecure.status, 0) << insecure.out << insecure.err;
  EXPECT_EQ(insecure.err, "harbinex: warning: the server's certificate is not checked (--insecure)\n");
  EXPECT_EQ(ReadFile(local.Path() / "plain.bin"), "taken without a check");
}

TEST_F(VsftpdTls, ProbeReturnsTheCertificatesFingerprint) {
  for (bool implicit : {false, true}) {
    std::string error;
    auto fingerprint = ftpc::ProbeCertificate("127.0.0.1", implicit ? s_implicitPort : s_explicitPort,
                                              implicit, std::chrono::seconds(20), error);
    ASSERT_TRUE(fingerprint.has_value()) << implicit << ": " << error;
    EXPECT_EQ(*fingerprint, s_fingerprint) << implicit;
  }
  // A server that speaks no TLS on the implicit port's terms: the probe says what failed.
  std::string error;
  EXPECT_FALSE(ftpc::ProbeCertificate("127.0.0.1", s_explicitPort, true, std::chrono::seconds(20), error));
  EXPECT_EQ(error.rfind("TLS handshake failed: ", 0), 0u) << error;
}

}  // namespace
}  // namespace hx::test
