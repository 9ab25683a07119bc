#include "app/resource_limits.h"

#include <gtest/gtest.h>

#include <asio/error.hpp>
#include <cerrno>

namespace hx {
namespace {

TEST(ResourceLimitsTest, OutOfDescriptorsInEveryCategoryThatCarriesErrno) {
  const std::pair<std::error_code, bool> cases[] = {
      {asio::error::no_descriptors, true},
      {std::error_code(ENFILE, asio::error::get_system_category()), true},
      {std::error_code(EMFILE, std::system_category()), true},
      {std::make_error_code(std::errc::too_many_files_open_in_system), true},
      {asio::error::connection_refused, false},
      {asio::error::make_error_code(asio::error::eof), false},
      {std::error_code(), false},
  };
  for (const auto& [error, out] : cases) EXPECT_EQ(IsOutOfDescriptors(error), out) << error.message();
}

}  // namespace
}  // namespace hx
