#include "users/extract_field.h"

#include <gtest/gtest.h>

#include "users/user_profile.h"

namespace hx {
namespace {

struct FieldCase {
  const char* text;
  const char* separator;
  int index;
  const char* expected;
};

TEST(ExtractField, CutsAtEverySeparatorFromTheLeft) {
  const FieldCase cases[] = {
      {"bob||pw||/home/||1", "||", 0, "bob"},
      {"bob||pw||/home/||1", "||", 1, "pw"},
      {"bob||pw||/home/||1", "||", 2, "/home/"},
      {"bob||pw||/home/||1", "||", 3, "1"},
      {"bob||pw||/home/||1", "||", 4, ""},
      {"bob||pw||/home/||1", "||", 99, ""},
      {"bob||pw||/home/||1", "||", -1, ""},
      {"a|||b", "||", 0, "a"},  // "|||" is cut after its first two characters
      {"a|||b", "||", 1, "|b"},
      {"||x", "||", 0, ""},
      {"||x", "||", 1, "x"},
      {"x||", "||", 1, ""},
      {"x||", "||", 2, ""},
      {"", "||", 0, ""},
      {"no separator", "||", 0, "no separator"},
      {"no separator", "||", 1, ""},
      {"a||||b", "||", 1, ""},
      {"a||||b", "||", 2, "b"},
      {"a,b,c", ",", 2, "c"},
      {"abc", "", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractField(c.text, c.separator, c.index), c.expected)
        << "text \"" << c.text << "\" index " << c.index;
  }
}

TEST(UserProfile, ParsesRightsWithTheAtoiRule) {
  UserProfile p = ParseUserProfile("bob||Dxxxxxxxxxxxxxxxxxxx||/srv/bob/||1||0|| 1||-1||7x||x1||0");
  EXPECT_EQ(p.name, "bob");
  EXPECT_EQ(p.password, "Dxxxxxxxxxxxxxxxxxxx");
  EXPECT_EQ(p.directory, "/srv/bob/");
  const bool expected[kRightCount] = {true, false, true, true, true, false, false, false};
  for (int i = 0; i < kRightCount; ++i) EXPECT_EQ(p.rights[i], expected[i]) << "right " << i;
}

TEST(UserProfile, MissingFieldsAreEmptyAndNotGranted) {
  UserProfile p = ParseUserProfile("alice");
  EXPECT_EQ(p.name, "alice");
  EXPECT_EQ(p.password, "");
  EXPECT_EQ(p.directory, "");
  for (bool r : p.rights) EXPECT_FALSE(r);
}

TEST(UserProfile, FormatsElevenFieldsAndParsesBack) {
  UserProfile p;
  p.name = "carol";
  p.password = "Gabcdefghijklmnopqrs";
  p.directory = "/data/carol/";
  p.Set(Right::Login, true);
  p.Set(Right::Download, true);
  p.Set(Right::RemoveDirs, true);
  const std::string line = FormatUserProfile(p);
  EXPECT_EQ(line, "carol||Gabcdefghijklmnopqrs||/data/carol/||1||0||1||0||0||0||0||1");
  UserProfile back = ParseUserProfile(line);
  EXPECT_EQ(back.name, p.name);
  EXPECT_EQ(back.password, p.password);
  EXPECT_EQ(back.directory, p.directory);
  EXPECT_EQ(back.rights, p.rights);
  EXPECT_TRUE(back.Has(Right::RemoveDirs));
  EXPECT_FALSE(back.Has(Right::Upload));
}

}  // namespace
}  // namespace hx
