#include "ftp/client/ftp_client_start.h"

#include <gtest/gtest.h>

#include "app/config_store.h"
#include "support/temp_dir.h"

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
  SaveFtpClientValues(config, get);

  FtpClientForm again = LoadFtpClientForm(config, false);
  EXPECT_EQ(again.host, "h");
  EXPECT_EQ(again.port, "2121");
  EXPECT_EQ(again.user, "u");
  EXPECT_EQ(again.password, "");
  EXPECT_EQ(again.remoteName, "r");
  EXPECT_EQ(again.localName, "l");
  EXPECT_TRUE(again.passive);
  FtpClientJob fromForm;
  again.password = "pw";
  ASSERT_FALSE(ValidateFtpClientForm(again, fromForm));
  EXPECT_TRUE(fromForm.passive);
  // The other direction keeps its own values.
  FtpClientForm put = LoadFtpClientForm(config, true);
  EXPECT_EQ(put.host, "");
  EXPECT_EQ(put.port, "21");
  EXPECT_FALSE(put.passive);
  EXPECT_EQ(test::ReadFile(dir.Path() / "Harbinex.ini").find("secret-password"), std::string::npos);
  EXPECT_EQ(config.GetProfileString("FLastGet", "HostName"), "h");
  EXPECT_EQ(config.GetProfileInt("FLastGet", "HostPort", 0), 2121);
  EXPECT_EQ(config.GetProfileString("FLastGet", "UserID"), "u");
  EXPECT_EQ(config.GetProfileString("FLastGet", "RemoteName"), "r");
  EXPECT_EQ(config.GetProfileString("FLastGet", "LocalName"), "l");
  EXPECT_EQ(config.GetProfileInt("FLastGet", "Passive", 0), 1);
}

}  // namespace
}  // namespace hx::ftpc
