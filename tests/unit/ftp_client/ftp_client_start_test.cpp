#include "ftp/client/ftp_client_start.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/config_store.h"
#include "support/temp_dir.h"
#include "tls/certificate.h"

namespace hx::ftpc {
namespace {

FtpClientForm GoodForm() {
  FtpClientForm form;
  form.host = "127.0.0.1";
  form.port = "2121";
  form.user = "anonymous";
  form.password = "me@example";
  form.remoteName = "file.bin";
  form.localName = "/tmp/file.bin";
  return form;
}

TEST(FtpClientForm, ValidationOrderAndMessages) {
  const std::string blank = "This field cannot be left blank.";
  struct Case {
    const char* name;
    void (*change)(FtpClientForm&);
    FtpClientField field;
    std::string message;
  };
  const Case cases[] = {
      {"empty host", [](FtpClientForm& f) { f.host.clear(); }, FtpClientField::Host, blank},
      {"empty host and password reports the host",
       [](FtpClientForm& f) { f.host.clear(), f.password.clear(); }, FtpClientField::Host, blank},
      {"empty local before port", [](FtpClientForm& f) { f.localName.clear(), f.port = "x"; },
       FtpClientField::LocalName, blank},
      {"port not a number", [](FtpClientForm& f) { f.port = "21a"; }, FtpClientField::Port,
       "Please enter an integer."},
      {"port empty", [](FtpClientForm& f) { f.port = ""; }, FtpClientField::Port, "Please enter an integer."},
      {"port before remote", [](FtpClientForm& f) { f.port = "abc", f.remoteName.clear(); },
       FtpClientField::Port, "Please enter an integer."},
      {"port zero", [](FtpClientForm& f) { f.port = "0"; }, FtpClientField::Port,
       "Please enter an integer between 1 and 65535."},
      {"port too large", [](FtpClientForm& f) { f.port = "65536"; }, FtpClientField::Port,
       "Please enter an integer between 1 and 65535."},
      {"port negative", [](FtpClientForm& f) { f.port = "-21"; }, FtpClientField::Port,
       "Please enter an integer between 1 and 65535."},
      {"empty remote", [](FtpClientForm& f) { f.remoteName.clear(); }, FtpClientField::RemoteName, blank},
      {"empty password even for anonymous", [](FtpClientForm& f) { f.password.clear(); },
       FtpClientField::Password, blank},
      {"remote before password", [](FtpClientForm& f) { f.remoteName.clear(), f.password.clear(); },
       FtpClientField::RemoteName, blank},
      {"empty user last", [](FtpClientForm& f) { f.user.clear(); }, FtpClientField::User, blank},
      {"password before user", [](FtpClientForm& f) { f.user.clear(), f.password.clear(); },
       FtpClientField::Password, blank},
      {"remote with line break", [](FtpClientForm& f) { f.remoteName = "a\r\nDELE b"; },
       FtpClientField::RemoteName, "This field cannot contain a line break."},
      {"user with line break", [](FtpClientForm& f) { f.user = "u\nx"; }, FtpClientField::User,
       "This field cannot contain a line break."},
      {"password with line break", [](FtpClientForm& f) { f.password = "p\rx"; }, FtpClientField::Password,
       "This field cannot contain a line break."},
  };
  for (const auto& c : cases) {
    FtpClientForm form = GoodForm();
    c.change(form);
    FtpClientJob job;
    auto problem = ValidateFtpClientForm(form, job);
    ASSERT_TRUE(problem.has_value()) << c.name;
    EXPECT_EQ(problem->field, c.field) << c.name;
    EXPECT_EQ(problem->message, c.message) << c.name;
  }
}

TEST(FtpClientForm, HostFieldTakesAnIpv6AddressInBrackets) {
  FtpClientForm form = GoodForm();
  form.host = "[2001:db8::7]";
  FtpClientJob job;
  ASSERT_FALSE(ValidateFtpClientForm(form, job).has_value());
  EXPECT_EQ(job.host, "2001:db8::7");
}

TEST(FtpClientForm, OnlyEmptinessIsTestedOtherwise) {
  FtpClientForm form = GoodForm();
  form.host = " ";
  form.port = " 65535 ";
  form.remoteName = "name with blanks \xe9";
  form.user = " ";
  FtpClientJob job;
  job.put = true;
  ASSERT_FALSE(ValidateFtpClientForm(form, job).has_value());
  EXPECT_TRUE(job.put);
  EXPECT_EQ(job.host, " ");
  EXPECT_EQ(job.port, 65535);
  EXPECT_EQ(job.user, " ");
  EXPECT_EQ(job.password, "me@example");
  EXPECT_EQ(job.remoteName, "name with blanks \xe9");
  EXPECT_EQ(job.localName, "/tmp/file.bin");
}

TEST(FtpClientForm, FirstUseOffersDefaults) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  config.WriteProfileString("FTP", "FDLDir", "/srv/ftp/");
  for (bool put : {false, true}) {
    FtpClientForm form = LoadFtpClientForm(config, put);
    EXPECT_EQ(form.host, "");
    EXPECT_EQ(form.port, "21");
    EXPECT_EQ(form.user, "anonymous");
    EXPECT_EQ(form.password, "");
    EXPECT_EQ(form.remoteName, "");
    EXPECT_EQ(form.localName, "/srv/ftp/");
    EXPECT_FALSE(form.passive);
    EXPECT_FALSE(form.tls);
  }
  EXPECT_STREQ(FtpClientTitle(false), "FTP GET File Information");
  EXPECT_STREQ(FtpClientTitle(true), "FTP PUT File Information");
  EXPECT_STREQ(FtpClientSection(false), "FLastGet");
  EXPECT_STREQ(FtpClientSection(true), "FLastPut");
}

TEST(FtpClientForm, LastValuesPerDirectionWithoutThePassword) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  FtpClientJob get;
  get.host = "h";
  get.port = 2121;
  get.user = "u";
  get.password = "secret-password";
  get.remoteName = "r";
  get.localName = "l";
  get.passive = true;
  get.tls = FtpClientJob::Tls::Explicit;
  SaveFtpClientValues(config, get);

  FtpClientForm again = LoadFtpClientForm(config, false);
  EXPECT_EQ(again.host, "h");
  EXPECT_EQ(again.port, "2121");
  EXPECT_EQ(again.user, "u");
  EXPECT_EQ(again.password, "");
  EXPECT_EQ(again.remoteName, "r");
  EXPECT_EQ(again.localName, "l");
  EXPECT_TRUE(again.passive);
  EXPECT_TRUE(again.tls);
  FtpClientJob fromForm;
  again.password = "pw";
  ASSERT_FALSE(ValidateFtpClientForm(again, fromForm));
  EXPECT_TRUE(fromForm.passive);
  EXPECT_EQ(fromForm.tls, FtpClientJob::Tls::Explicit);
  // The other direction keeps its own values.
  FtpClientForm put = LoadFtpClientForm(config, true);
  EXPECT_EQ(put.host, "");
  EXPECT_EQ(put.port, "21");
  EXPECT_FALSE(put.passive);
  EXPECT_FALSE(put.tls);
  EXPECT_EQ(test::ReadFile(dir.Path() / "Harbinex.ini").find("secret-password"), std::string::npos);
  EXPECT_EQ(config.GetProfileString("FLastGet", "HostName"), "h");
  EXPECT_EQ(config.GetProfileInt("FLastGet", "HostPort", 0), 2121);
  EXPECT_EQ(config.GetProfileString("FLastGet", "UserID"), "u");
  EXPECT_EQ(config.GetProfileString("FLastGet", "RemoteName"), "r");
  EXPECT_EQ(config.GetProfileString("FLastGet", "LocalName"), "l");
  EXPECT_EQ(config.GetProfileInt("FLastGet", "Passive", 0), 1);
  EXPECT_EQ(config.GetProfileInt("FLastGet", "TLS", 0), 1);
}

TEST(FtpClientTrust, TheFirstUseAsksAndLaterUsesArePinned) {
  const std::string seen = "SHA256:" + std::string(64, 'A');
  const std::string remembered = "SHA256:" + std::string(64, 'B');
  const std::string seenShown = *tls::ParseFingerprint(seen);
  const std::string rememberedShown = *tls::ParseFingerprint(remembered);
  struct Case {
    const char* name;
    FtpClientJob::Tls tls;
    std::string stored;  // FtpsTrusted's value for the server before OK; empty: none
    bool probeFinds;
    bool answer;
    TrustDecision decision;
    std::string pinned;  // the job's fingerprint afterwards
    std::string storedAfter;
    int probes;
    int questions;
  };
  const Case cases[] = {
      {"no TLS: nothing to decide", FtpClientJob::Tls::Off, "", true, true, TrustDecision::Start, "", "", 0,
       0},
      {"remembered: pinned without a question", FtpClientJob::Tls::Explicit, remembered, true, false,
       TrustDecision::Start, rememberedShown, remembered, 0, 0},
      {"first use, yes: pinned and remembered", FtpClientJob::Tls::Explicit, "", true, true,
       TrustDecision::Start, seenShown, seenShown, 1, 1},
      {"first use, no: nothing starts or is kept", FtpClientJob::Tls::Explicit, "", true, false,
       TrustDecision::Declined, "", "", 1, 1},
      {"probe fails: no question", FtpClientJob::Tls::Explicit, "", false, true, TrustDecision::ProbeFailed,
       "", "", 1, 0},
      {"a stored value that is no fingerprint asks again", FtpClientJob::Tls::Explicit, "SHA256:xyz", true,
       true, TrustDecision::Start, seenShown, seenShown, 1, 1},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    ConfigStore config(dir.Path() / "Harbinex.ini");
    if (!c.stored.empty()) config.WriteProfileString("FtpsTrusted", "ftp.example:990", c.stored);
    FtpClientJob job;
    job.host = "ftp.example";
    job.port = 990;
    job.tls = c.tls;
    int probes = 0;
    std::vector<std::string> questions;
    CertificateProbe probe = [&](const std::string& host, std::uint16_t port, bool implicit,
                                 std::chrono::seconds limit,
                                 std::string& error) -> std::optional<std::string> {
      ++probes;
      EXPECT_EQ(host, "ftp.example");
      EXPECT_EQ(port, 990);
      EXPECT_FALSE(implicit);
      EXPECT_EQ(limit, std::chrono::seconds(10));
      if (!c.probeFinds) error = "Connection refused";
      return c.probeFinds ? std::optional(seenShown) : std::nullopt;
    };
    auto ask = [&](const std::string& question) {
      questions.push_back(question);
      return c.answer;
    };
    std::string error;
    EXPECT_EQ(PinTrustedCertificate(config, job, probe, ask, error), c.decision) << c.name;
    EXPECT_EQ(job.fingerprint, c.pinned) << c.name;
    EXPECT_EQ(config.GetProfileString("FtpsTrusted", "ftp.example:990"),
              c.storedAfter.empty() ? c.stored : c.storedAfter)
        << c.name;
    EXPECT_EQ(probes, c.probes) << c.name;
    ASSERT_EQ(questions.size(), static_cast<size_t>(c.questions)) << c.name;
    if (!questions.empty()) {
      EXPECT_EQ(questions[0], "The server's certificate has the fingerprint " + seenShown +
                                  " Trust it for ftp.example:990?")
          << c.name;
    }
    EXPECT_EQ(error, c.probeFinds ? "" : "Connection refused") << c.name;
  }
}

TEST(FtpClientTrust, ServersAreKeptApartByPort) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  const std::string fingerprint = *tls::ParseFingerprint(std::string(64, 'c'));
  RememberFingerprint(config, "2001:db8::7", 21, fingerprint);
  EXPECT_EQ(config.GetProfileString("FtpsTrusted", "2001:db8::7:21"), fingerprint);
  EXPECT_EQ(TrustedFingerprint(config, "2001:db8::7", 21), fingerprint);
  EXPECT_FALSE(TrustedFingerprint(config, "2001:db8::7", 990));
  EXPECT_EQ(
      TrustQuestion(fingerprint, "2001:db8::7", 21),
      "The server's certificate has the fingerprint " + fingerprint + " Trust it for [2001:db8::7]:21?");
}

}  // namespace
}  // namespace hx::ftpc
