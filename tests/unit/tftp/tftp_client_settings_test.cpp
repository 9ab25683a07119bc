// The client's settings reader: the configuration store's values and defaults, looked at again only after
// the given age.
#include "tftp/tftp_client_settings.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/config_store.h"
#include "support/temp_dir.h"

namespace hx::tftp {
namespace {

class RecentSettings : public ::testing::Test {
 protected:
  test::TempDir dir;
  ConfigStore config{dir.Path() / "Harbinex.ini"};
};

TEST_F(RecentSettings, DefaultsOfAnEmptyConfiguration) {
  RecentEngineSettings settings(config);
  EXPECT_EQ(settings.Debugging(), 0);
  EXPECT_EQ(settings.Retries(), 5);
  EXPECT_EQ(settings.TimeoutSeconds(), 5);
}

TEST_F(RecentSettings, ChangesAreSeenOnceTheAgeHasPassed) {
  config.WriteProfileInt("General", "Debugging", 1);
  config.WriteProfileInt("TFTP", "TRetries", 2);
  config.WriteProfileInt("TFTP", "TTimeout", 3);
  RecentEngineSettings cached(config, std::chrono::hours(1));
  RecentEngineSettings fresh(config, std::chrono::milliseconds(0));
  EXPECT_EQ(cached.Debugging(), 1);
  EXPECT_EQ(cached.Retries(), 2);
  EXPECT_EQ(cached.TimeoutSeconds(), 3);
  EXPECT_EQ(fresh.TimeoutSeconds(), 3);

  config.WriteProfileInt("General", "Debugging", 3);
  config.WriteProfileInt("TFTP", "TRetries", 7);
  config.WriteProfileInt("TFTP", "TTimeout", 9);
  // Within its age the reader keeps what it read, all three values from one look.
  EXPECT_EQ(cached.Debugging(), 1);
  EXPECT_EQ(cached.Retries(), 2);
  EXPECT_EQ(cached.TimeoutSeconds(), 3);
  EXPECT_EQ(fresh.Debugging(), 3);
  EXPECT_EQ(fresh.Retries(), 7);
  EXPECT_EQ(fresh.TimeoutSeconds(), 9);

  RecentEngineSettings shortLived(config, std::chrono::milliseconds(20));
  EXPECT_EQ(shortLived.TimeoutSeconds(), 9);
  config.WriteProfileInt("TFTP", "TTimeout", 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the age itself is what is tested here
  EXPECT_EQ(shortLived.TimeoutSeconds(), 4);
}

}  // namespace
}  // namespace hx::tftp
