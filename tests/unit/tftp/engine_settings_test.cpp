#include "tftp/engine_settings.h"

#include <gtest/gtest.h>

#include "app/config_store.h"
#include "support/temp_dir.h"

namespace hx::tftp {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;

TEST(ConfigEngineSettings, DefaultsWhenTheKeysAreMissing) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  ConfigEngineSettings settings(config, milliseconds(0));
  EXPECT_EQ(settings.Debugging(), 0);
  EXPECT_EQ(settings.Retries(), 5);
  EXPECT_EQ(settings.TimeoutSeconds(), 5);
  EXPECT_TRUE(settings.OptionsEnabled());
  EXPECT_EQ(settings.MaxBlockSize(), 65464);
  EXPECT_EQ(settings.MaxWindowSize(), 64);
}

TEST(ConfigEngineSettings, ChangesApplyOnceTheValuesAreOldEnough) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  config.WriteProfileInt("General", "Debugging", 1);
  config.WriteProfileInt("TFTP", "TRetries", 2);
  config.WriteProfileInt("TFTP", "TTimeout", 3);
  config.WriteProfileInt("TFTP", "TOptions", 0);
  config.WriteProfileInt("TFTP", "TMaxBlockSize", 1468);
  config.WriteProfileInt("TFTP", "TMaxWindowSize", 16);

  ConfigEngineSettings fresh(config, milliseconds(0));
  ConfigEngineSettings held(config, hours(1));
  EXPECT_EQ(fresh.Debugging(), 1);
  EXPECT_EQ(held.Debugging(), 1);
  EXPECT_EQ(held.Retries(), 2);
  EXPECT_EQ(held.TimeoutSeconds(), 3);
  EXPECT_FALSE(held.OptionsEnabled());
  EXPECT_EQ(held.MaxBlockSize(), 1468);
  EXPECT_EQ(held.MaxWindowSize(), 16);

  config.WriteProfileInt("General", "Debugging", 3);
  config.WriteProfileInt("TFTP", "TRetries", 9);
  config.WriteProfileString("TFTP", "TTimeout", "x");
  EXPECT_EQ(fresh.Debugging(), 3);
  EXPECT_EQ(fresh.Retries(), 9);
  EXPECT_EQ(fresh.TimeoutSeconds(), 0);  // text that does not begin with a number
  // Within its age the held copy answers without looking at the file again.
  EXPECT_EQ(held.Debugging(), 1);
  EXPECT_EQ(held.Retries(), 2);
  EXPECT_EQ(held.TimeoutSeconds(), 3);
}

TEST(ConfigEngineSettings, MaxWindowSizeIsReadWithinOneAndSixtyFour) {
  test::TempDir dir;
  ConfigStore config(dir.Path() / "Harbinex.ini");
  ConfigEngineSettings settings(config, milliseconds(0));
  for (auto [written, read] : {std::pair{65535, 64}, std::pair{10000, 64}, std::pair{64, 64}, std::pair{2, 2},
                               std::pair{0, 1}, std::pair{-5, 1}}) {
    config.WriteProfileInt("TFTP", "TMaxWindowSize", written);
    EXPECT_EQ(settings.MaxWindowSize(), read) << written;
  }
}

}  // namespace
}  // namespace hx::tftp
