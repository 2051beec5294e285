// Toolbar faces: the picture and its transparency mask on the clipboard, and
// the add-in's own icons.
#include "plexisync/core/command_bars.hpp"

#include <gtest/gtest.h>

#include "host/ui/commandbars.hpp"
#include "platform/clipboard.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/dialogs/pictures.hpp"

namespace plexisync {
namespace {

TEST(ButtonFaceTest, FaceAndMaskArePastedWithMagentaTransparent) {
  platform::Bitmap icon(4, 2, platform::kMagenta);
  icon.SetPixel(1, 0, platform::kBlack);
  platform::Clipboard clipboard;
  SetButtonFace(clipboard, &icon);
  host::CommandBars bars;
  auto& button = bars.Item("Standard").Controls().Add(host::ControlType::Button, 0, true);
  button.PasteFace(clipboard);
  auto face = platform::DecodeDib(button.Face());
  auto mask = platform::DecodeDib(button.Mask());
  ASSERT_TRUE(face && mask);
  EXPECT_EQ(*face, icon);
  ASSERT_EQ(mask->BitsPerPixel(), 1);
  EXPECT_EQ(mask->Pixel(0, 0), platform::kWhite);
  EXPECT_EQ(mask->Pixel(1, 0), platform::kBlack);
}

TEST(ButtonFaceTest, PictureOutsideTheMaskLimitsHasNoMask) {
  platform::Bitmap wide(40000, 1, platform::kMagenta);
  platform::Clipboard clipboard;
  SetButtonFace(clipboard, &wide);
  EXPECT_TRUE(clipboard.HasFormat(platform::kCfDib));
  EXPECT_FALSE(clipboard.HasFormat(clipboard.RegisterFormat(host::kToolbarButtonMaskFormat)));
  host::CommandBars bars;
  auto& button = bars.Item("Standard").Controls().Add(host::ControlType::Button, 0, true);
  button.PasteFace(clipboard);
  EXPECT_FALSE(button.Face().empty());
  EXPECT_TRUE(button.Mask().empty()) << "shown without transparency";
}

TEST(ButtonFaceTest, MissingPictureIsInvalid) {
  platform::Clipboard clipboard;
  platform::Bitmap none;
  const platform::Bitmap* pictures[] = {nullptr, &none};
  for (const platform::Bitmap* p : pictures) {
    try {
      SetButtonFace(clipboard, p);
      ADD_FAILURE() << "no error";
    } catch (const AddinError& e) {
      EXPECT_EQ(e.Number(), 481);
    }
  }
  EXPECT_TRUE(clipboard.Formats().empty());
}

TEST(ButtonFaceTest, IconsAreSmallWithMagentaBackground) {
  Pictures pictures;
  for (const char* name : {"Share", "Update", "UpdateAll", "Import"}) {
    SCOPED_TRACE(name);
    auto* image = pictures.Find<platform::Image>(name);
    ASSERT_NE(image, nullptr);
    ASSERT_NE(image->Picture(), nullptr);
    const auto& b = *image->Picture();
    EXPECT_EQ(b.Width(), 16);
    EXPECT_EQ(b.Height(), 16);
    EXPECT_EQ(b.Pixel(15, 0) == platform::kMagenta || b.Pixel(0, 15) == platform::kMagenta, true);
    int drawn = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) drawn += b.Pixel(x, y) == platform::kMagenta ? 0 : 1;
    EXPECT_GT(drawn, 20);
  }
}

}  // namespace
}  // namespace plexisync
