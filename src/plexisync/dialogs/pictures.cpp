#include "plexisync/dialogs/pictures.hpp"

namespace plexisync {

namespace {

constexpr int kIconSize = 16;
constexpr platform::Rgb kInk{0, 64, 160};
constexpr platform::Rgb kCard{255, 255, 224};
constexpr platform::Rgb kGreen{0, 140, 60};

// A contact card: a light rectangle with a dark frame and a head.
void DrawCard(platform::Bitmap& b, int x, int y) {
  b.FillRect(x, y, 9, 7, kInk);
  b.FillRect(x + 1, y + 1, 7, 5, kCard);
  b.FillRect(x + 2, y + 2, 2, 2, kInk);
  b.FillRect(x + 5, y + 2, 2, 1, kInk);
  b.FillRect(x + 5, y + 4, 2, 1, kInk);
}

// An arrow made of a shaft and a head, pointing right or down.
void DrawArrowRight(platform::Bitmap& b, int x, int y, platform::Rgb c) {
  b.FillRect(x, y + 2, 4, 2, c);
  b.FillRect(x + 4, y, 1, 6, c);
  b.FillRect(x + 5, y + 1, 1, 4, c);
  b.FillRect(x + 6, y + 2, 1, 2, c);
}

void DrawArrowDown(platform::Bitmap& b, int x, int y, platform::Rgb c) {
  b.FillRect(x + 2, y, 2, 4, c);
  b.FillRect(x, y + 4, 6, 1, c);
  b.FillRect(x + 1, y + 5, 4, 1, c);
  b.FillRect(x + 2, y + 6, 2, 1, c);
}

}  // namespace

platform::Bitmap ToolbarIcon(const std::string& name) {
  platform::Bitmap b(kIconSize, kIconSize, platform::kMagenta);
  if (name == "Share") {
    DrawCard(b, 0, 1);
    DrawArrowRight(b, 9, 1, kGreen);
    DrawCard(b, 6, 8);
  } else if (name == "Update") {
    DrawCard(b, 3, 5);
    DrawArrowRight(b, 0, 12, kGreen);
    b.FillRect(7, 13, 9, 2, kGreen);
  } else if (name == "UpdateAll") {
    DrawCard(b, 0, 0);
    DrawCard(b, 6, 5);
    b.FillRect(0, 13, 16, 2, kGreen);
    DrawArrowRight(b, 9, 11, kGreen);
  } else if (name == "Import") {
    DrawArrowDown(b, 5, 0, kGreen);
    DrawCard(b, 3, 8);
  } else {
    return platform::Bitmap();
  }
  return b;
}

Pictures::Pictures()
    : Form("Pictures", "Pictures"),
      DialogOpen(Add<platform::CommonDialog>("DialogOpen")),
      Share(Add<platform::Image>("Share", ToolbarIcon("Share"))),
      Update(Add<platform::Image>("Update", ToolbarIcon("Update"))),
      UpdateAll(Add<platform::Image>("UpdateAll", ToolbarIcon("UpdateAll"))),
      Import(Add<platform::Image>("Import", ToolbarIcon("Import"))) {
  DialogOpen.SetDefaultExt(kPstDefaultExt);
  DialogOpen.SetFilter(kPstFilter);
}

}  // namespace plexisync
