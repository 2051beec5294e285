// Host layer anchor.
namespace host {}
