#include "plexisync/dialogs/pictures.hpp"

namespace plexisync {

Pictures::Pictures() : Form("Pictures", "Pictures"), DialogOpen(Add<platform::CommonDialog>("DialogOpen")) {
  DialogOpen.SetDefaultExt(kPstDefaultExt);
  DialogOpen.SetFilter(kPstFilter);
}

}  // namespace plexisync
