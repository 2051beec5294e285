#pragma once
// The hidden form "Pictures": it is never shown, it only holds what other
// parts take from it, such as the common file dialog `DialogOpen` through
// which a personal-folders file is chosen for an export or an import. It is
// kept as the context's default instance (ctx.Form<Pictures>()). It also
// holds the toolbar icons, one image control each: "Share", "Update",
// "UpdateAll" and "Import" (16 x 16, magenta where the face is transparent).
#include <string>

#include "platform/bitmap.hpp"
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
  platform::Image& Share;
  platform::Image& Update;
  platform::Image& UpdateAll;
  platform::Image& Import;
};

// The toolbar icon of that name, drawn on a magenta background; an empty
// picture for an unknown name.
platform::Bitmap ToolbarIcon(const std::string& name);

}  // namespace plexisync
