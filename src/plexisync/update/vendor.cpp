#include "plexisync/update/vendor.hpp"

#include <cstdlib>

#include "plexisync_version.hpp"

namespace plexisync {

namespace {
constexpr const char* kDefaultVendorAddress = "https://www.quorvane.example";
}  // namespace

std::string VendorBaseAddress() {
  const char* env = std::getenv("PLEXISYNC_VENDOR_URL");
  std::string address = env != nullptr && *env != '\0' ? env : kDefaultVendorAddress;
  while (!address.empty() && address.back() == '/') {
    address.pop_back();
  }
  return address;
}

std::string WebUserAgent() { return std::string("Plexisync/") + version::kText; }

}  // namespace plexisync
