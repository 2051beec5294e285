#pragma once
// Where the add-in finds its maker's web server.
#include <string>

namespace plexisync {

// The vendor's web server, scheme and host without a path and without a
// trailing slash: PLEXISYNC_VENDOR_URL when set and not empty, else
// "https://www.quorvane.example".
std::string VendorBaseAddress();

// The user agent the add-in's web requests name: "Plexisync/<version>".
std::string WebUserAgent();

}  // namespace plexisync
