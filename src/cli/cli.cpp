// Program anchor.
namespace cli {}
