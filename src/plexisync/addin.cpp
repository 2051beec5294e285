// Add-in anchor.
namespace plexisync {}
