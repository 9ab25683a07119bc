#include "ftp/server/command_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace hx::ftpd {
namespace {

TEST(CommandTableTest, VerbsInSearchOrderWithTheirNumbers) {
  const char* const kVerbs[] = {
      "USER", "PASS", "ACCT", "CWD",  "CDUP", "SMNT", "QUIT", "REIN", "PORT", "PASV", "TYPE", "STRU", "MODE",
      "RETR", "STOR", "STOU", "APPE", "ALLO", "REST", "RNFR", "RNTO", "ABOR", "DELE", "RMD",  "MKD",  "PWD",
      "LIST", "NLST", "SITE", "SYST", "STAT", "HELP", "NOOP", "MDTM", "SIZE", "FEAT", "XPWD", "XRMD", "XMKD",
      "XCUP", "XCWD", "EPRT", "EPSV", "OPTS", "MLSD", "MLST", "MFMT", "HASH", "AUTH", "PBSZ", "PROT", "CCC"};
  ASSERT_EQ(std::size(kVerbs), kCommandTable.size());
  std::set<std::string> seen;
  for (size_t i = 0; i < kCommandTable.size(); ++i) {
    EXPECT_EQ(kCommandTable[i].verb, kVerbs[i]) << i;
    EXPECT_EQ(static_cast<size_t>(kCommandTable[i].id), i) << kVerbs[i];
    EXPECT_TRUE(seen.insert(std::string(kCommandTable[i].verb)).second) << "twice: " << kVerbs[i];
  }
}

TEST(CommandTableTest, LookupByVerbIgnoringCase) {
  struct Case {
    std::string line;
    int number;
  } cases[] = {
      {"USER bob", 0},
      {"user bob", 0},
      {"uSeR", 0},
      {"USERX bob", kUnknownCommand},  // the verb is the whole first word
      {"PASS secret word", 1},
      {"CWD docs", 3},
      {"cwd\tdocs", 3},  // TAB ends the verb too
      {"XCWD docs", 40},
      {"xcup", 39},
      {"PASV", 9},
      {"FEAT", 35},
      {"NOOP\r", 32},
      {"", kUnknownCommand},
      {" USER bob", kUnknownCommand},  // a leading blank leaves an empty verb
      {"EPRT |1|127.0.0.1|5000|", 41},
      {"epsv", 42},
      {"OPTS UTF8 ON", 43},
      {"mlsd sub", 44},
      {"MLST", 45},
      {"MLS", kUnknownCommand},
      {"USE", kUnknownCommand},
  };
  for (const auto& c : cases) EXPECT_EQ(LookupCommand(c.line), c.number) << '"' << c.line << '"';
}

TEST(CommandTableTest, AborAmongTheFirstFourPositionsStandsForAbor) {
  struct Case {
    std::string line;
    int number;
    std::string stripped;
  } cases[] = {
      {"ABOR", 21, "ABOR"},
      {"xABOR", 21, "ABOR"},
      {"xyzABOR", 21, "ABOR"},
      {"\xff\xf4\xff"
       "ABOR",
       21, "ABOR"},  // Telnet IP and the IAC before the removed synch byte
      {"wxyzABOR", kUnknownCommand, "wxyzABOR"},
      {"abor", 21, "abor"},  // the rule is case-sensitive; the lookup is not
      {"xabor", kUnknownCommand, "xabor"},
      {"STOR ABOR.txt", 14, "STOR ABOR.txt"},  // a later occurrence changes nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LookupCommand(c.line), c.number) << c.line;
    EXPECT_EQ(ApplyAborRule(c.line), c.stripped) << c.line;
  }
}

TEST(CommandTableTest, ArgumentByPositionUntrimmed) {
  auto number = [](CommandId id) { return static_cast<int>(id); };
  struct Case {
    std::string line;
    int command;
    std::string argument;
  } cases[] = {
      {"CWD docs", number(CommandId::Cwd), "docs"},
      {"XCWD docs", number(CommandId::Xcwd), "docs"},
      {"RETR  two blanks", number(CommandId::Retr), " two blanks"},
      {"RETR", number(CommandId::Retr), ""},
      {"RETR ", number(CommandId::Retr), ""},
      {"PASS my pass ", number(CommandId::Pass), "my pass "},
      {"MKD a", number(CommandId::Mkd), "a"},
      {"USER\tbob", number(CommandId::User), "bob"},
      {"SITE CHMOD 755 x", kUnknownCommand, "CHMOD 755 x"},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandArgument(c.line, c.command), c.argument) << c.line;
}

TEST(CommandTableTest, LoginGate) {
  const int user = static_cast<int>(CommandId::User), pass = static_cast<int>(CommandId::Pass);
  const int noop = static_cast<int>(CommandId::Noop), quit = static_cast<int>(CommandId::Quit);
  const int feat = static_cast<int>(CommandId::Feat), help = static_cast<int>(CommandId::Help);
  const int auth = static_cast<int>(CommandId::Auth), prot = static_cast<int>(CommandId::Prot);
  struct Case {
    bool needUser, needPass;
    int command;
    bool admitted;
  } cases[] = {
      {true, false, user, true},
      {true, false, pass, false},
      {true, false, noop, false},
      {true, false, quit, true},
      {false, true, quit, true},
      {true, false, feat, true},
      {false, true, feat, true},
      {true, false, help, false},
      {true, false, auth, true},
      {false, true, prot, true},
      {true, false, kUnknownCommand, false},
      {false, true, pass, true},
      {false, true, user, false},
      {false, true, noop, false},
      {false, false, user, true},
      {false, false, pass, true},
      {false, false, noop, true},
      {false, false, kUnknownCommand, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GateAdmits(c.needUser, c.needPass, c.command), c.admitted)
        << c.needUser << c.needPass << " " << c.command;
}

TEST(CommandTableTest, RightsAndTransferChecksBeforeTheHandler) {
  auto row = [](CommandId id) { return kCommandTable[static_cast<size_t>(id)]; };
  // Only the data commands wait for a running transfer.
  for (const CommandRow& r : kCommandTable) {
    bool data = r.id == CommandId::List || r.id == CommandId::Nlst || r.id == CommandId::Mlsd ||
                r.id == CommandId::Retr || r.id == CommandId::Stor || r.id == CommandId::Appe;
    EXPECT_EQ(r.waitsForTransfer, data) << r.verb;
    EXPECT_EQ(r.right == kNoRight, r.refusal == nullptr) << r.verb;
    EXPECT_NE(r.handler, nullptr) << r.verb;
  }
  EXPECT_STREQ(row(CommandId::Retr).refusal, "550 Requested action not taken. No access rights.\r\n");
  EXPECT_STREQ(row(CommandId::Stor).refusal, "532 Need account for storing files\r\n");
  EXPECT_STREQ(row(CommandId::Appe).refusal, "532 Need account for storing files\r\n");
  EXPECT_STREQ(row(CommandId::Rnfr).refusal, "550 File unavailable. User profile has no access\r\n");
  EXPECT_EQ(row(CommandId::Rnto).right, kNoRight);  // RNFR had it
  // The X-verbs are their twins in every column.
  const std::pair<CommandId, CommandId> twins[] = {{CommandId::Xpwd, CommandId::Pwd},
                                                   {CommandId::Xrmd, CommandId::Rmd},
                                                   {CommandId::Xmkd, CommandId::Mkd},
                                                   {CommandId::Xcup, CommandId::Cdup},
                                                   {CommandId::Xcwd, CommandId::Cwd}};
  for (auto [x, twin] : twins) {
    EXPECT_EQ(row(x).handler, row(twin).handler) << row(x).verb;
    EXPECT_EQ(row(x).right, row(twin).right) << row(x).verb;
    EXPECT_EQ(row(x).refusal, row(twin).refusal) << row(x).verb;
  }
}

}  // namespace
}  // namespace hx::ftpd
