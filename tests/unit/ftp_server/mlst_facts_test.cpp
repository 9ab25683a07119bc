#include "ftp/server/mlst_facts.h"

#include <gtest/gtest.h>

namespace hx::ftpd {
namespace {

using namespace std::string_literals;

ListEntry Entry(std::string name, bool isDirectory, std::int64_t size = 0) {
  ListEntry entry;
  entry.name = std::move(name);
  entry.isDirectory = isDirectory;
  entry.size = size;
  entry.modified = 1592222400;  // 2020-06-15 12:00:00 UTC
  entry.device = 0x803;
  entry.inode = 0x1a2b;
  return entry;
}

TEST(MlstFactsTest, ModifyInUtcWithMilliseconds) {
  struct Case {
    std::time_t seconds;
    long nanos;
    std::string text;
  } cases[] = {
      {1592222400, 0, "20200615120000"},
      {1592222400, 123456789, "20200615120000.123"},
      {1592222400, 999999999, "20200615120000.999"},
      {1592222400, 500, "20200615120000"},
      {0, 0, "19700101000000"},
      {946684799, 1000000, "19991231235959.001"},
  };
  for (const auto& c : cases) EXPECT_EQ(ModifyFactValue(c.seconds, c.nanos), c.text) << c.seconds;
}

TEST(MlstFactsTest, PermFromTheProfilesRights) {
  const FactRights none{};
  const FactRights all{true, true, true, true, true, true, true};
  const FactRights readOnly{.download = true};
  const FactRights uploadNoOverwrite{.download = true, .upload = true};
  const FactRights uploadOverwrite{.upload = true, .overwrite = true};
  const FactRights manage{.rename = true, .deleteFiles = true, .makeDirs = true, .removeDirs = true};
  struct Case {
    bool isDirectory;
    FactRights rights;
    std::string perm;
  } cases[] = {
      {false, none, ""},
      {true, none, "el"},
      {false, all, "adfrw"},
      {true, all, "cdeflmp"},
      {false, readOnly, "r"},
      {true, readOnly, "el"},
      {false, uploadNoOverwrite, "r"},
      {true, uploadNoOverwrite, "cel"},
      {false, uploadOverwrite, "aw"},
      {false, manage, "df"},
      {true, manage, "deflmp"},
  };
  for (const auto& c : cases) EXPECT_EQ(PermFactValue(c.isDirectory, c.rights), c.perm) << c.perm;
}

TEST(MlstFactsTest, LinesWithTheChosenFacts) {
  const FactRights rights{.download = true};
  struct Case {
    ListEntry entry;
    FactSet facts;
    std::string line;
  } cases[] = {
      {Entry("a.txt", false, 5368709120LL), kAllFacts,
       "type=file;size=5368709120;modify=20200615120000;perm=r;unique=803U1a2b; a.txt\r\n"},
      // A folder's size is left out.
      {Entry("sub", true), kAllFacts, "type=dir;modify=20200615120000;perm=el;unique=803U1a2b; sub\r\n"},
      {Entry("..", true), kFactType, "type=pdir; ..\r\n"},
      {Entry("a.txt", false, 7), kFactSize | kFactUnique, "size=7;unique=803U1a2b; a.txt\r\n"},
      {Entry("a.txt", false, 7), 0, " a.txt\r\n"},
      {Entry("with blank", false, 1), kFactType, "type=file; with blank\r\n"},
      // A name's own line breaks cannot end the line.
      {Entry("a\r\n226 x", false, 1), kFactType, "type=file; a\r\0?226 x\r\n"s},
  };
  for (const auto& c : cases) EXPECT_EQ(FactLine(c.entry, c.facts, rights), c.line) << c.entry.name;
}

TEST(MlstFactsTest, OptsMlstChoosesFacts) {
  struct Case {
    std::string argument;
    std::string reply;
    std::string feat;
  } cases[] = {
      {"type;size;modify;perm;unique;", "200 MLST OPTS type;size;modify;perm;unique;\r\n",
       "type*;size*;modify*;perm*;unique*;"},
      {"type;size;", "200 MLST OPTS type;size;\r\n", "type*;size*;modify;perm;unique;"},
      {"Modify;TYPE", "200 MLST OPTS type;modify;\r\n", "type*;size;modify*;perm;unique;"},
      {"size;charset;unix.mode;", "200 MLST OPTS size;\r\n", "type;size*;modify;perm;unique;"},
      {"", "200 MLST OPTS\r\n", "type;size;modify;perm;unique;"},
      {"type;;perm", "200 MLST OPTS type;perm;\r\n", "type*;size;modify;perm*;unique;"},
  };
  for (const auto& c : cases) {
    FactSet facts = ParseFactList(c.argument);
    EXPECT_EQ(OptsMlstReply(facts), c.reply) << c.argument;
    EXPECT_EQ(FeatFactsText(facts), c.feat) << c.argument;
  }
  EXPECT_EQ(FeatFactsText(kAllFacts), "type*;size*;modify*;perm*;unique*;");
}

}  // namespace
}  // namespace hx::ftpd
