#include "users/password_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "users/password_hash.h"

namespace hx {
namespace {

std::string AllPrintable() {
  std::string s;
  for (int c = 32; c <= 126; ++c) s += static_cast<char>(c);
  return s;
}

TEST(PasswordCodec, EncodedFormHasLengthLetterAndNoSeparatorCharacter) {
  std::mt19937 engine(12345);
  for (size_t n = 0; n <= kMaxEncodablePassword; ++n) {
    for (int round = 0; round < 200; ++round) {
      std::string plain;
      for (size_t i = 0; i < n; ++i) plain += static_cast<char>(32 + (round * 7 + i * 13) % 95);
      std::string stored = EncodePasswordWith(plain, engine);
      ASSERT_EQ(stored.size(), kStoredPasswordLength);
      EXPECT_EQ(stored[0], static_cast<char>('A' + n));
      for (char c : stored) {
        EXPECT_GE(c, ' ');
        EXPECT_LE(c, '~');
        EXPECT_NE(c, '|') << "stored form " << stored;
      }
    }
  }
}

TEST(PasswordCodec, EveryPrintableCharacterRoundTripsAtEveryPosition) {
  std::mt19937 engine(7);
  const std::string printable = AllPrintable();
  for (char p : printable) {
    for (int round = 0; round < 50; ++round) {
      std::string plain = std::string(8, 'x');
      plain[static_cast<size_t>(round) % 8] = p;
      std::string stored = EncodePasswordWith(plain, engine);
      EXPECT_EQ(DecodePassword(stored), plain);
      EXPECT_TRUE(CheckPassword(plain, stored));
    }
  }
}

TEST(PasswordCodec, FreshRandomnessStillDecodes) {
  // Two encodings of the same password differ (fresh filler and keys) and both decode to it.
  std::string a = EncodePassword("secret1");
  std::string b = EncodePassword("secret1");
  EXPECT_NE(a, b);
  EXPECT_TRUE(CheckPassword("secret1", a));
  EXPECT_TRUE(CheckPassword("secret1", b));
}

TEST(PasswordCodec, EmptyPasswordIsLetterAThenFiller) {
  std::string stored = EncodePassword("");
  ASSERT_EQ(stored.size(), 20u);
  EXPECT_EQ(stored[0], 'A');
  EXPECT_EQ(DecodePassword(stored), "");
  EXPECT_TRUE(CheckPassword("", stored));
  EXPECT_FALSE(CheckPassword("x", stored));
}

TEST(PasswordCodec, TooLongPasswordIsNotEncoded) {
  EXPECT_EQ(EncodePassword("0123456789"), "");
  EXPECT_EQ(EncodePassword("012345678").size(), 20u);
}

// Stored forms worked out by hand from the encoding rule c = k + p - 31 (minus 95 above 126).
struct KnownForm {
  const char* stored;
  const char* plain;
};

TEST(PasswordCodec, DecodesKnownStoredForms) {
  const KnownForm cases[] = {
      // 'a' with key '!' -> 'c'; 'b' with key '}' -> 192 - 95 = 'a'; 'c' with key 'P' -> 148 - 95 = '5'.
      {"D!c}aP5XXXXXXXXXXXXX", "abc"},
      // key equal to cipher decodes to '~'.
      {"B##zzzzzzzzzzzzzzzzz", "~"},
      // a blank with key '!' -> '"'.
      {"B!\"AAAAAAAAAAAAAAAAA", " "},
      // a form written before keys avoided '|': 'a' with key '|' -> 190 - 95 = '_'.
      {"B|_||||||||||||||||!", "a"},
      // eight characters "Pass w0r" with keys "!!!!!!!!": each cipher is p + 2.
      {"I!R!c!u!u!\"!y!2!tqqq", "Pass w0r"},
      {"A|||||||||||||||||||", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodePassword(c.stored), c.plain) << c.stored;
    EXPECT_TRUE(CheckPassword(c.plain, c.stored)) << c.stored;
  }
}

TEST(PasswordCodec, CheckIsExactAndCaseSensitive) {
  const std::string stored = "D!c}aP5XXXXXXXXXXXXX";  // "abc"
  EXPECT_TRUE(CheckPassword("abc", stored));
  EXPECT_FALSE(CheckPassword("ABC", stored));
  EXPECT_FALSE(CheckPassword("ab", stored));
  EXPECT_FALSE(CheckPassword("abcd", stored));
  EXPECT_FALSE(CheckPassword("", stored));
}

TEST(PasswordCodec, MalformedStoredFormsRefuseEveryPassword) {
  const std::string malformed[] = {
      "",                      // empty
      "@abcdefghijklmnopqrs",  // length character below 'A'
      " ",                     // below 'A'
      "Eab",                   // announces 4 characters, holds 1
      "J12345678901234567",    // announces 9, needs 19 characters
      "~",                     // announces 61
  };
  for (const auto& stored : malformed) {
    EXPECT_FALSE(TryDecodePassword(stored).has_value()) << stored;
    EXPECT_EQ(DecodePassword(stored), "") << stored;
    EXPECT_FALSE(CheckPassword("", stored)) << stored;
    EXPECT_FALSE(CheckPassword("abcdef", stored)) << stored;
  }
  // Exactly long enough is well formed.
  EXPECT_TRUE(TryDecodePassword("B##").has_value());
}

}  // namespace
}  // namespace hx
