// The field rules of the TFTP client form, the last values per direction, and how a client Status is read.
#include "tftp/tftp_client_start.h"

#include <gtest/gtest.h>

#include "app/config_store.h"
#include "support/temp_dir.h"
#include "tftp/tftp_client_session.h"

namespace hx::tftp {
namespace {

TftpClientForm GoodForm() {
  TftpClientForm form;
  form.host = "127.0.0.1";
  form.port = "6969";
  form.remoteName = "boot/image.bin";
  form.localName = "/tmp/image.bin";
  return form;
}

TEST(TftpClientForm, ValidationOrderAndMessages) {
  const std::string blank = "This field cannot be left blank.";
  const std::string range = "Please enter an integer between 1 and 65534.";
  struct Case {
    const char* name;
    void (*change)(TftpClientForm&);
    TftpClientField field;
    std::string message;
  };
  const Case cases[] = {
      {"empty host", [](TftpClientForm& f) { f.host.clear(); }, TftpClientField::Host, blank},
      {"host before everything", [](TftpClientForm& f) { f.host.clear(), f.localName.clear(), f.port = "0"; },
       TftpClientField::Host, blank},
      {"empty local name", [](TftpClientForm& f) { f.localName.clear(); }, TftpClientField::LocalName, blank},
      {"local name before port", [](TftpClientForm& f) { f.localName.clear(), f.port = "x"; },
       TftpClientField::LocalName, blank},
      {"port not a number", [](TftpClientForm& f) { f.port = "69a"; }, TftpClientField::Port,
       "Please enter an integer."},
      {"port empty", [](TftpClientForm& f) { f.port = ""; }, TftpClientField::Port,
       "Please enter an integer."},
      {"port only blanks", [](TftpClientForm& f) { f.port = "  "; }, TftpClientField::Port,
       "Please enter an integer."},
      {"port beyond any integer", [](TftpClientForm& f) { f.port = "99999999999999"; }, TftpClientField::Port,
       "Please enter an integer."},
      {"port before remote name", [](TftpClientForm& f) { f.port = "0", f.remoteName.clear(); },
       TftpClientField::Port, range},
      {"port zero", [](TftpClientForm& f) { f.port = "0"; }, TftpClientField::Port, range},
      {"port 65535", [](TftpClientForm& f) { f.port = "65535"; }, TftpClientField::Port, range},
      {"port negative", [](TftpClientForm& f) { f.port = "-69"; }, TftpClientField::Port, range},
      {"empty remote name last", [](TftpClientForm& f) { f.remoteName.clear(); }, TftpClientField::RemoteName,
       blank},
  };
  for (const auto& c : cases) {
    TftpClientForm form = GoodForm();
    c.change(form);
    TftpClientJob job;
    job.host = "untouched";
    auto problem = ValidateTftpClientForm(form, job);
    ASSERT_TRUE(problem.has_value()) << c.name;
    EXPECT_EQ(problem->field, c.field) << c.name;
    EXPECT_EQ(problem->message, c.message) << c.name;
    EXPECT_EQ(job.host, "untouched") << c.name;  // a refused form fills nothing
  }
}

TEST(TftpClientForm, AcceptedValuesFillTheJob) {
  struct Case {
    const char* port;
    int expected;
  };
  const Case cases[] = {{"1", 1}, {"69", 69}, {" 65534 ", 65534}, {"+6969", 6969}, {"007", 7}};
  for (const auto& c : cases) {
    TftpClientForm form = GoodForm();
    form.port = c.port;
    form.host = " ";  // only emptiness is tested
    form.remoteName = "name with blanks";
    TftpClientJob job;
    job.put = true;
    ASSERT_FALSE(ValidateTftpClientForm(form, job).has_value()) << c.port;
    EXPECT_EQ(job.port, c.expected) << c.port;
    EXPECT_TRUE(job.put);  // the direction is the caller's
    EXPECT_EQ(job.host, " ");
    EXPECT_EQ(job.remoteName, "name with blanks");
    EXPECT_EQ(job.localName, "/tmp/image.bin");
  }
}

TEST(TftpClientForm, HostFieldTakesAnIpv6AddressInBrackets) {
  TftpClientForm form = GoodForm();
  form.host = "[::1]";
  TftpClientJob job;
  ASSERT_FALSE(ValidateTftpClientForm(form, job).has_value());
  EXPECT_EQ(job.host, "::1");
}

TEST(TftpClientForm, TitlesAndSections) {
  EXPECT_STREQ(TftpClientTitle(false), "TFTP GET File Information");
  EXPECT_STREQ(TftpClientTitle(true), "TFTP PUT File Information");
  EXPECT_STREQ(TftpClientSection(false), "TLastGet");
  EXPECT_STREQ(TftpClientSection(true), "TLastPut");
}

class TftpClientLastValues : public ::testing::Test {
 protected:
  test::TempDir dir;
  ConfigStore config{dir.Path() / "Harbinex.ini"};
};

TEST_F(TftpClientLastValues, FirstUseOffersPort69AndTheTransferDirectory) {
  config.WriteProfileString("TFTP", "TDLDir", "/srv/tftp/");
  for (bool put : {false, true}) {
    TftpClientForm form = LoadTftpClientForm(config, put);
    EXPECT_EQ(form.host, "");
    EXPECT_EQ(form.port, "69");
    EXPECT_EQ(form.remoteName, "");
    EXPECT_EQ(form.localName, "/srv/tftp/");
  }
}

TEST_F(TftpClientLastValues, EachDirectionKeepsItsOwnValues) {
  config.WriteProfileString("TFTP", "TDLDir", "/srv/tftp/");
  TftpClientJob get{false, "tftp.example", 6969, "boot/image.bin", "/tmp/image.bin", {}};
  SaveTftpClientValues(config, get);
  EXPECT_EQ(config.GetProfileString("TLastGet", "Host"), "tftp.example");
  EXPECT_EQ(config.GetProfileString("TLastGet", "LocalName"), "/tmp/image.bin");
  EXPECT_EQ(config.GetProfileInt("TLastGet", "PortNumber", 0), 6969);
  EXPECT_EQ(config.GetProfileString("TLastGet", "RemoteName"), "boot/image.bin");

  TftpClientForm form = LoadTftpClientForm(config, false);
  EXPECT_EQ(form.host, "tftp.example");
  EXPECT_EQ(form.port, "6969");
  EXPECT_EQ(form.remoteName, "boot/image.bin");
  EXPECT_EQ(form.localName, "/tmp/image.bin");

  // The other direction still offers its first-use values.
  form = LoadTftpClientForm(config, true);
  EXPECT_EQ(form.host, "");
  EXPECT_EQ(form.port, "69");
  EXPECT_EQ(form.localName, "/srv/tftp/");

  TftpClientJob put{true, "10.0.0.9", 69, "up.bin", "/home/me/up.bin", {}};
  SaveTftpClientValues(config, put);
  form = LoadTftpClientForm(config, true);
  EXPECT_EQ(form.host, "10.0.0.9");
  EXPECT_EQ(form.localName, "/home/me/up.bin");
  EXPECT_EQ(LoadTftpClientForm(config, false).host, "tftp.example");
}

TEST_F(TftpClientLastValues, ValuesGoBackThroughTheFormUnchanged) {
  TftpClientJob saved{false, "host", 1, "r", "l", {}};
  SaveTftpClientValues(config, saved);
  TftpClientJob job;
  ASSERT_FALSE(ValidateTftpClientForm(LoadTftpClientForm(config, false), job).has_value());
  EXPECT_EQ(job.host, "host");
  EXPECT_EQ(job.port, 1);
  EXPECT_EQ(job.remoteName, "r");
  EXPECT_EQ(job.localName, "l");
}

TEST_F(TftpClientLastValues, OptionFieldsAreCheckedFilledAndKept) {
  struct Refusal {
    std::string TftpClientForm::*field;
    const char* text;
    TftpClientField expected;
    const char* message;
  };
  // One of each kind: below, above, not a number; the ranges themselves come from tftp_options.h.
  const Refusal refusals[] = {
      {&TftpClientForm::blockSize, "7", TftpClientField::BlockSize,
       "Please enter an integer between 8 and 65464."},
      {&TftpClientForm::windowSize, "65536", TftpClientField::WindowSize,
       "Please enter an integer between 1 and 65535."},
      {&TftpClientForm::timeout, "5s", TftpClientField::Timeout, "Please enter an integer."},
  };
  for (const auto& r : refusals) {
    TftpClientForm form = GoodForm();
    form.*r.field = r.text;
    TftpClientJob job;
    auto problem = ValidateTftpClientForm(form, job);
    ASSERT_TRUE(problem.has_value()) << r.text;
    EXPECT_EQ(problem->field, r.expected) << r.text;
    EXPECT_EQ(problem->message, r.message) << r.text;
    EXPECT_FALSE(job.options.Any()) << r.text;  // a refused form fills nothing
  }
  // The options come after the fields the form always had, in the order they are shown.
  TftpClientForm late = GoodForm();
  late.remoteName.clear();
  late.blockSize = "x";
  late.timeout = "0";
  TftpClientJob job;
  EXPECT_EQ(ValidateTftpClientForm(late, job)->field, TftpClientField::RemoteName);
  late.remoteName = "r";
  late.windowSize = "0";
  EXPECT_EQ(ValidateTftpClientForm(late, job)->field, TftpClientField::BlockSize);
  late.blockSize = "8";
  EXPECT_EQ(ValidateTftpClientForm(late, job)->field, TftpClientField::WindowSize);

  // Empty fields ask for nothing; the limits themselves are taken.
  ASSERT_FALSE(ValidateTftpClientForm(GoodForm(), job).has_value());
  EXPECT_EQ(job.options, TftpOptions{});
  TftpClientForm limits = GoodForm();
  limits.blockSize = "65464";
  limits.windowSize = " 1 ";
  limits.timeout = "255";
  ASSERT_FALSE(ValidateTftpClientForm(limits, job).has_value());
  EXPECT_EQ(job.options.blockSize, 65464);
  EXPECT_EQ(job.options.windowSize, 1);
  EXPECT_EQ(job.options.timeoutSeconds, 255);
  EXPECT_FALSE(job.options.transferSize.has_value());

  // Kept per direction; an option not asked for is kept empty and offered empty again.
  job.put = true;
  job.options.windowSize.reset();
  SaveTftpClientValues(config, job);
  EXPECT_EQ(config.GetProfileString("TLastPut", "BlockSize", "missing"), "65464");
  EXPECT_EQ(config.GetProfileString("TLastPut", "WindowSize", "missing"), "");
  EXPECT_EQ(config.GetProfileString("TLastPut", "Timeout", "missing"), "255");
  TftpClientForm put = LoadTftpClientForm(config, true);
  EXPECT_EQ(put.blockSize, "65464");
  EXPECT_EQ(put.windowSize, "");
  EXPECT_EQ(put.timeout, "255");
  TftpClientForm get = LoadTftpClientForm(config, false);
  EXPECT_EQ(get.blockSize, "");
  EXPECT_EQ(get.windowSize, "");
  EXPECT_EQ(get.timeout, "");

  // A later transfer without options clears the kept ones.
  TftpClientJob plain{true, "host", 69, "r", "l", {}};
  SaveTftpClientValues(config, plain);
  EXPECT_EQ(LoadTftpClientForm(config, true).blockSize, "");
  EXPECT_EQ(LoadTftpClientForm(config, true).timeout, "");
}

TEST(TftpClientStatus, OnlyTheSuccessTextCountsAsSuccess) {
  struct Case {
    const char* status;
    bool succeeded;
  };
  const Case cases[] = {
      {"TFTP: Successful. Total bytes transferred: 0", true},
      {"TFTP: Successful. Total bytes transferred: 67108864", true},
      {"Receiving File", false},
      {"Retry. Block = 3. Retries left = 4", false},
      {"Received error code from peer. Aborting. Error = TFTP: Successful. Total bytes transferred: 1",
       false},
      {"Error receiving response from host : [10054] Connection reset by peer", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(TftpClientSucceeded(c.status), c.succeeded) << c.status;
}

TEST(TftpClientStatus, PrefixesByDirection) {
  EXPECT_EQ(SendFailurePrefix(false), "Error connecting to host : ");
  EXPECT_EQ(SendFailurePrefix(true), "Error sending : ");
  EXPECT_EQ(NoAnswerPrefix(false), "Error receiving response from host : ");
  EXPECT_EQ(NoAnswerPrefix(true), "Error receiving : ");
}

}  // namespace
}  // namespace hx::tftp
