#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "support/temp_dir.h"
#include "tls/certificate.h"
#include "tls/server_tls.h"
#include "tls/tls_context.h"

namespace hx::tls {
namespace {

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(CertificateTest, SelfSignedPairNamesTheHostAndKeepsItsKeyPrivate) {
  test::TempDir dir;
  const std::string crt = (dir.Path() / "a.crt").string(), key = (dir.Path() / "a.key").string();
  ASSERT_EQ(MakeSelfSignedCertificate(crt, key, "ftp.example.test", {"192.0.2.7", "2001:db8::7"}), "");
  EXPECT_EQ(ModeOf(key), 0600u);
  EXPECT_EQ(ModeOf(crt), 0644u);
  FILE* file = std::fopen(crt.c_str(), "r");
  ASSERT_TRUE(file);
  X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(X509_check_host(certificate, "ftp.example.test", 0, 0, nullptr), 1);
  EXPECT_EQ(X509_check_ip_asc(certificate, "192.0.2.7", 0), 1);
  EXPECT_EQ(X509_check_ip_asc(certificate, "2001:db8::7", 0), 1);
  EXPECT_EQ(X509_check_ca(certificate), 0);
  X509_free(certificate);
  std::string error;
  EXPECT_TRUE(TlsContext::MakeServer(crt, key, error)) << error;
}

TEST(CertificateTest, ServerContextRefusesABrokenPairNamingTheFile) {
  test::TempDir dir;
  auto path = [&](const char* name) { return (dir.Path() / name).string(); };
  ASSERT_EQ(MakeSelfSignedCertificate(path("a.crt"), path("a.key"), "a", {}), "");
  ASSERT_EQ(MakeSelfSignedCertificate(path("b.crt"), path("b.key"), "b", {}), "");
  test::WriteFile(path("garbage"), "not a PEM file\n");
  struct Case {
    std::string certificate, key, blamed, reason;
  };
  for (const Case& c :
       {Case{path("a.crt"), path("b.key"), path("b.key"), "key values mismatch"},
        Case{path("garbage"), path("a.key"), path("garbage"), "no start line"},
        Case{path("a.crt"), path("garbage"), path("garbage"), "unsupported"},
        Case{path("a.crt"), path("none.key"), path("none.key"), "No such file or directory"}}) {
    std::string error;
    EXPECT_FALSE(TlsContext::MakeServer(c.certificate, c.key, error));
    EXPECT_EQ(error.rfind(c.blamed + ": " + c.reason, 0), 0u) << error;
    EXPECT_GT(error.size(), c.blamed.size() + 2) << error;
  }
}

TEST(CertificateTest, ParseFingerprintTakesWhatUsersType) {
  const std::string hex = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
  std::string shown = "SHA256:";
  for (std::size_t i = 0; i < hex.size(); i += 2) shown += (i ? ":" : "") + hex.substr(i, 2);
  std::string lowerColons = shown.substr(7);
  for (char& c : lowerColons) c = static_cast<char>(std::tolower(c));
  struct Case {
    std::string text;
    bool valid;
  };
  for (const Case& c :
       {Case{shown, true}, Case{"sha256:" + lowerColons, true}, Case{hex, true}, Case{lowerColons, true},
        Case{"  SHA256:" + hex + "\n", true}, Case{hex.substr(1), false}, Case{hex.substr(1) + "G", false},
        Case{"SHA1:" + hex, false}, Case{shown.substr(0, 12) + shown.substr(13) + "0", false},
        Case{"", false}}) {
    std::optional<std::string> parsed = ParseFingerprint(c.text);
    EXPECT_EQ(parsed.has_value(), c.valid) << c.text;
    if (c.valid && parsed) {
      EXPECT_EQ(*parsed, shown) << c.text;
    }
  }
}

TEST(ServerTlsTest, MakesMissingFilesOnceAndLeavesBrokenOnesAlone) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  const auto crt = dir.Path() / "Harbinex.crt", key = dir.Path() / "Harbinex.key";
  ServerTls tls;
  std::string line = tls.Load(config, dir.Dir());
  ASSERT_TRUE(tls.Context()) << line;
  std::string error;
  const std::string fingerprint = CertificateFingerprint(crt.string(), error).value_or("none");
  EXPECT_EQ(line, "FTP: Made a TLS certificate for " + LocalHostName() + ", fingerprint " + fingerprint);
  EXPECT_EQ(tls.Fingerprint(), fingerprint);
  EXPECT_EQ(ModeOf(key), 0600u);
  EXPECT_EQ(tls.Load(config, dir.Dir()), "");  // loaded as before, nothing made
  EXPECT_EQ(tls.Fingerprint(), fingerprint);

  test::WriteFile(key, "broken");
  line = tls.Load(config, dir.Dir());
  EXPECT_EQ(line.rfind("FTP: TLS is off: FTLSKey " + key.string() + ": ", 0), 0u) << line;
  EXPECT_EQ(line, "FTP: TLS is off: " + tls.Problem());
  EXPECT_FALSE(tls.Context());
  EXPECT_EQ(test::ReadFile(key), "broken");
  EXPECT_EQ(CertificateFingerprint(crt.string(), error).value_or("none"), fingerprint);

  line = tls.Renew(config, dir.Dir());
  ASSERT_TRUE(tls.Context()) << line;
  EXPECT_NE(tls.Fingerprint(), fingerprint);
  EXPECT_EQ(line,
            "FTP: Made a TLS certificate for " + LocalHostName() + ", fingerprint " + tls.Fingerprint());
  EXPECT_EQ(tls.Problem(), "");

  cfg::Write(config, cfg::kFTLS, 0);
  EXPECT_EQ(tls.Load(config, dir.Dir()), "");
  EXPECT_FALSE(tls.Context());
}

}  // namespace
}  // namespace hx::tls
