#pragma once
// The hidden form "Pictures": it is never shown, it only holds what other
// parts take from it, such as the common file dialog `DialogOpen` through
// which a personal-folders file is chosen for an export or an import. It is
// kept as the context's default instance (ctx.Form<Pictures>()).
#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

// The design-time settings of DialogOpen.
inline constexpr const char* kPstDefaultExt = ".pst";
inline constexpr const char* kPstFilter = "Personal Folders Files  (*.pst)|*.pst";

class Pictures : public platform::Form {
 public:
  Pictures();

  platform::CommonDialog& DialogOpen;
};

}  // namespace plexisync
