// The vendor's server address and the add-in's user agent.
#include "plexisync/update/vendor.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace plexisync {
namespace {

TEST(VendorAddress, ComesFromTheEnvironmentOrTheDefault) {
  struct Case {
    const char* value;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, "https://www.quorvane.example"},
      {"", "https://www.quorvane.example"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
  };
  std::optional<std::string> saved;
  if (const char* old = std::getenv("PLEXISYNC_VENDOR_URL")) saved = old;
  for (const auto& c : cases) {
    if (c.value) {
      ::setenv("PLEXISYNC_VENDOR_URL", c.value, 1);
    } else {
      ::unsetenv("PLEXISYNC_VENDOR_URL");
    }
    EXPECT_EQ(VendorBaseAddress(), c.expected) << (c.value ? c.value : "(unset)");
  }
  if (saved) {
    ::setenv("PLEXISYNC_VENDOR_URL", saved->c_str(), 1);
  } else {
    ::unsetenv("PLEXISYNC_VENDOR_URL");
  }
}

TEST(VendorAddress, TheUserAgentNamesTheAddinAndItsVersion) {
  const std::string agent = WebUserAgent();
  EXPECT_EQ(agent.rfind("Plexisync/", 0), 0u) << agent;
  EXPECT_GT(agent.size(), std::string("Plexisync/").size());
}

}  // namespace
}  // namespace plexisync
