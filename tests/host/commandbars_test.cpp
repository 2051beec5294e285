#include "host/ui/commandbars.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/bitmap.hpp"
#include "platform/clipboard.hpp"

namespace host {
namespace {

std::vector<std::string> Captions(CommandBarControls& controls) {
  std::vector<std::string> out;
  for (CommandBarControl* c : controls.All()) out.push_back(c->Caption());
  return out;
}

std::vector<int> Indexes(CommandBarControls& controls) {
  std::vector<int> out;
  for (CommandBarControl* c : controls.All()) out.push_back(c->Index());
  return out;
}

// Two explorer windows of one application, sharing one registry.
class CommandBarsTest : public ::testing::Test {
 protected:
  std::shared_ptr<CommandBarsRegistry> registry = std::make_shared<CommandBarsRegistry>();
  CommandBars first{registry};
  CommandBars second{registry};

  CommandBarControls& Standard(CommandBars& bars) { return bars.Item("Standard").Controls(); }
  CommandBarControls& Menu(CommandBars& bars) { return bars.Item("Menu Bar").Controls(); }

  // A temporary tagged button at the end of a window's "Standard" bar.
  CommandBarControl& AddTagged(CommandBars& bars, const std::string& tag) {
    CommandBarControl& b = Standard(bars).Add(ControlType::Button, 0, true);
    b.SetTag(tag);
    b.SetCaption(tag);
    return b;
  }
};

TEST_F(CommandBarsTest, NewWindowHasBuiltInStandardBarAndMenuBar) {
  EXPECT_EQ(first.Count(), 2);
  EXPECT_EQ(first.Item(1).Name(), "Standard");
  EXPECT_EQ(first.Item(2).Name(), "Menu Bar");
  EXPECT_EQ(&first.Item("menu bar"), &first.Item("Menu Bar"));
  EXPECT_EQ(Captions(Standard(first)),
            (std::vector<std::string>{"New", "Print", "Move to Folder", "Delete", "Find", "Address Book"}));
  EXPECT_EQ(Captions(Menu(first)),
            (std::vector<std::string>{"File", "Edit", "View", "Go", "Tools", "Actions", "Help"}));
  for (CommandBarControl* c : Menu(first).All()) {
    EXPECT_EQ(c->Type(), ControlType::Popup) << c->Caption();
    EXPECT_TRUE(c->BuiltIn());
    EXPECT_GT(c->Controls().Count(), 0) << c->Caption();
  }
  for (CommandBarControl* c : Standard(first).All()) {
    EXPECT_EQ(c->Type(), ControlType::Button);
    EXPECT_TRUE(c->BuiltIn());
    EXPECT_NE(c->Id(), kCustomControlId);
    EXPECT_TRUE(c->Tag().empty());
  }
  // Each window has its own bars.
  EXPECT_NE(&first.Item("Standard"), &second.Item("Standard"));
  EXPECT_EQ(registry->Count(), 2);
}

TEST_F(CommandBarsTest, UnknownBarsAndPositionsAreErrors) {
  EXPECT_THROW(first.Item("Formatting"), HostError);
  EXPECT_EQ(first.Find("Formatting"), nullptr);
  EXPECT_THROW(first.Item(0), HostError);
  EXPECT_THROW(first.Item(3), HostError);
  for (int index : {0, -1, 7}) EXPECT_THROW(Standard(first).Item(index), HostError) << index;
  EXPECT_THROW(Menu(first).Item("Plexisync"), HostError);
  EXPECT_THROW(first.Add("Standard"), HostError);
  EXPECT_THROW(first.Add(""), HostError);
  CommandBar& custom = first.Add("Mine");
  EXPECT_EQ(first.Count(), 3);
  EXPECT_EQ(&first.Item("MINE"), &custom);
}

TEST_F(CommandBarsTest, ControlsFoundByCaptionIgnoringCaseAndAccelerator) {
  CommandBarControl& help = Menu(first).Item("help");
  EXPECT_EQ(help.Caption(), "Help");
  CommandBarControl& popup = Menu(first).Add(ControlType::Popup, 0, true);
  popup.SetCaption("&Plexisync");
  EXPECT_EQ(Menu(first).Find("Plexisync"), &popup);
}

TEST_F(CommandBarsTest, NewControlHasDefaults) {
  CommandBarControl& b = Standard(first).Add(ControlType::Button, 0, true);
  EXPECT_EQ(b.Type(), ControlType::Button);
  EXPECT_EQ(b.Id(), kCustomControlId);
  EXPECT_FALSE(b.BuiltIn());
  EXPECT_TRUE(b.Temporary());
  EXPECT_TRUE(b.Visible());
  EXPECT_TRUE(b.Enabled());
  EXPECT_FALSE(b.BeginGroup());
  EXPECT_EQ(b.Style(), ButtonStyle::Automatic);
  EXPECT_TRUE(b.Tag().empty());
  EXPECT_TRUE(b.Caption().empty());
  EXPECT_TRUE(b.Face().empty());
  EXPECT_EQ(b.Bar(), &first.Item("Standard"));
  EXPECT_EQ(b.ParentPopup(), nullptr);
  EXPECT_THROW(b.Controls(), HostError);

  b.SetTag("Share...");
  b.SetCaption("Share...");
  b.SetStyle(ButtonStyle::IconAndCaption);
  b.SetTooltipText("Share current folder");
  b.SetBeginGroup(true);
  b.SetVisible(false);
  b.SetEnabled(false);
  EXPECT_EQ(b.Tag(), "Share...");
  EXPECT_EQ(b.Caption(), "Share...");
  EXPECT_EQ(b.Style(), ButtonStyle::IconAndCaption);
  EXPECT_EQ(b.TooltipText(), "Share current folder");
  EXPECT_TRUE(b.BeginGroup());
  EXPECT_FALSE(b.Visible());
  EXPECT_FALSE(b.Enabled());
  EXPECT_FALSE(Standard(first).Add().Temporary());
}

struct AddCase {
  int before;
  int expectedIndex;
};

class AddPositionTest : public CommandBarsTest, public ::testing::WithParamInterface<AddCase> {};

TEST_P(AddPositionTest, AddPlacesControlAndShiftsTheRest) {
  const AddCase& tc = GetParam();
  CommandBarControls& controls = Standard(first);
  std::vector<std::string> expected = Captions(controls);
  CommandBarControl& added = controls.Add(ControlType::Button, tc.before, true);
  added.SetCaption("Added");
  expected.insert(expected.begin() + (tc.expectedIndex - 1), "Added");

  EXPECT_EQ(added.Index(), tc.expectedIndex);
  EXPECT_EQ(Captions(controls), expected);
  EXPECT_EQ(Indexes(controls), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(&controls.Item(tc.expectedIndex), &added);
}

// "Standard" starts with 6 controls: 0 appends, 1..7 insert before that position.
INSTANTIATE_TEST_SUITE_P(Positions, AddPositionTest,
                         ::testing::Values(AddCase{0, 7}, AddCase{1, 1}, AddCase{3, 3}, AddCase{6, 6},
                                           AddCase{7, 7}));

TEST_F(CommandBarsTest, AddOutOfRangeOrUnknownTypeIsRefused) {
  CommandBarControls& controls = Standard(first);
  for (int before : {-1, 8, 1000}) {
    EXPECT_THROW(controls.Add(ControlType::Button, before, true), HostError) << before;
  }
  EXPECT_THROW(controls.Add(static_cast<ControlType>(2)), HostError);
  EXPECT_EQ(controls.Count(), 6);
}

TEST_F(CommandBarsTest, PopupBeforeLastMenuAndItsItems) {
  CommandBarControls& menu = Menu(first);
  CommandBarControl& popup = menu.Add(ControlType::Popup, menu.Count(), true);
  popup.SetCaption("Plexisync");
  EXPECT_EQ(popup.Index(), 7);
  EXPECT_EQ(menu.Item(8).Caption(), "Help");

  CommandBarControl& share = popup.Controls().Add(ControlType::Button);
  share.SetCaption("Share...");
  CommandBarControl& update = popup.Controls().Add(ControlType::Button);
  update.SetCaption("Update");
  CommandBarControl& options = popup.Controls().Add(ControlType::Button, 2);
  options.SetCaption("Options...");
  EXPECT_EQ(Captions(popup.Controls()), (std::vector<std::string>{"Share...", "Options...", "Update"}));
  EXPECT_EQ(update.Index(), 3);
  EXPECT_EQ(update.ParentPopup(), &popup);
  EXPECT_EQ(update.Bar(), &first.Item("Menu Bar"));
  EXPECT_EQ(&popup.Controls().Item(2), &options);
  // A popup itself raises no click.
  int clicks = 0;
  auto sub = popup.OnClick([&](CommandBarControl&, bool&) { ++clicks; });
  EXPECT_FALSE(popup.Click());
  popup.Execute();
  EXPECT_EQ(clicks, 0);
}

TEST_F(CommandBarsTest, FindControlSearchesEveryBarAndPopup) {
  CommandBarControl& update = AddTagged(first, "Update");
  CommandBarControl& popup = Menu(first).Add(ControlType::Popup, 0, true);
  CommandBarControl& item = popup.Controls().Add();
  item.SetTag("Help item");

  EXPECT_EQ(first.FindControl(std::nullopt, 0, "Update"), &update);
  EXPECT_EQ(first.FindControl(ControlType::Button, 0, "Help item"), &item);
  EXPECT_EQ(first.FindControl(ControlType::Popup, 0, "Update"), nullptr);
  EXPECT_EQ(first.FindControl(ControlType::Button, kCustomControlId, "Update"), &update);
  EXPECT_EQ(first.FindControl(std::nullopt, 0, "Missing"), nullptr);
  // The other window's bars are not searched.
  EXPECT_EQ(second.FindControl(std::nullopt, 0, "Update"), nullptr);

  CommandBar& standard = first.Item("Standard");
  EXPECT_EQ(standard.FindControl("Update"), &update);
  EXPECT_EQ(standard.FindControl("Help item"), nullptr);
  EXPECT_EQ(standard.FindControl(""), nullptr);
  EXPECT_EQ(first.Item("Menu Bar").FindControl("Help item"), &item);

  // Built-in controls by id.
  const int helpId = Menu(first).Item("Help").Id();
  EXPECT_EQ(first.FindControl(ControlType::Popup, helpId), &Menu(first).Item("Help"));
  EXPECT_EQ(first.FindControl(ControlType::Button, helpId), nullptr);
}

TEST_F(CommandBarsTest, DeleteRemovesControlAndShiftsIndexes) {
  CommandBarControl& a = AddTagged(first, "A");
  std::shared_ptr<CommandBarControl> b = AddTagged(first, "B").Handle();
  CommandBarControl& c = AddTagged(first, "C");
  int clicks = 0;
  auto sub = b->OnClick([&](CommandBarControl&, bool&) { ++clicks; });

  b->Delete();
  EXPECT_TRUE(b->IsDeleted());
  EXPECT_EQ(b->Index(), 0);
  EXPECT_EQ(b->Bar(), nullptr);
  EXPECT_EQ(a.Index(), 7);
  EXPECT_EQ(c.Index(), 8);
  EXPECT_EQ(first.FindControl(std::nullopt, 0, "B"), nullptr);
  EXPECT_FALSE(b->Click());
  EXPECT_THROW(b->Execute(), HostError);
  b->Delete();  // again: nothing happens
  EXPECT_EQ(Standard(first).Count(), 8);
  // A control with the same tag elsewhere no longer reaches the deleted one.
  AddTagged(second, "B").Click();
  EXPECT_EQ(clicks, 0);
}

TEST_F(CommandBarsTest, RemoveTemporaryControlsKeepsPermanentOnes) {
  std::shared_ptr<CommandBarControl> tempButton = AddTagged(first, "T").Handle();
  CommandBarControl& keptButton = Standard(first).Add(ControlType::Button, 0, false);
  keptButton.SetTag("K");
  std::shared_ptr<CommandBarControl> tempPopup = Menu(first).Add(ControlType::Popup, 0, true).Handle();
  std::shared_ptr<CommandBarControl> itemOfTemp = tempPopup->Controls().Add().Handle();
  CommandBarControl& keptPopup = Menu(first).Add(ControlType::Popup, 0, false);
  CommandBarControl& keptItem = keptPopup.Controls().Add(ControlType::Button, 0, false);
  std::shared_ptr<CommandBarControl> tempItem = keptPopup.Controls().Add(ControlType::Button, 0, true).Handle();

  first.RemoveTemporaryControls();

  EXPECT_EQ(Standard(first).Count(), 7);
  EXPECT_EQ(Menu(first).Count(), 8);
  EXPECT_EQ(keptPopup.Controls().Count(), 1);
  EXPECT_EQ(&keptPopup.Controls().Item(1), &keptItem);
  for (const auto& gone : {tempButton, tempPopup, itemOfTemp, tempItem}) {
    EXPECT_TRUE(gone->IsDeleted());
    EXPECT_EQ(gone->Index(), 0);
    EXPECT_FALSE(gone->Click());
  }
  EXPECT_FALSE(keptButton.IsDeleted());
  EXPECT_EQ(first.FindControl(std::nullopt, 0, "K"), &keptButton);
}

TEST_F(CommandBarsTest, RegistryRemovesTemporaryControlsOfEveryWindow) {
  AddTagged(first, "Update");
  AddTagged(second, "Update");
  registry->RemoveTemporaryControls();
  EXPECT_EQ(first.FindControl(std::nullopt, 0, "Update"), nullptr);
  EXPECT_EQ(second.FindControl(std::nullopt, 0, "Update"), nullptr);
  EXPECT_EQ(Standard(first).Count(), 6);
}

TEST_F(CommandBarsTest, TaggedClickReachesEveryControlWithThatTagInTheFamily) {
  CommandBarControl& updateAll1 = AddTagged(first, "Update All");
  CommandBarControl& updateAll2 = AddTagged(second, "Update All");
  CommandBarControl& menuItem = Menu(second).Add(ControlType::Popup, 0, true).Controls().Add();
  menuItem.SetTag("Update All");
  CommandBarControl& other = AddTagged(second, "Update");
  CommandBars foreign;  // another application
  CommandBarControl& foreignButton = AddTagged(foreign, "Update All");

  std::vector<std::string> calls;
  std::vector<CommandBarControl*> clickedSeen;
  auto record = [&](const std::string& who) {
    return [&, who](CommandBarControl& clicked, bool&) {
      calls.push_back(who);
      clickedSeen.push_back(&clicked);
    };
  };
  auto s1 = updateAll1.OnClick(record("first"));
  auto s2 = updateAll2.OnClick(record("second"));
  auto s3 = menuItem.OnClick(record("menu"));
  auto s4 = other.OnClick(record("other"));
  auto s5 = foreignButton.OnClick(record("foreign"));

  EXPECT_TRUE(updateAll2.Click());
  EXPECT_EQ(calls, (std::vector<std::string>{"second", "first", "menu"}));
  for (CommandBarControl* c : clickedSeen) EXPECT_EQ(c, &updateAll2);

  // Hidden or disabled controls with the tag still hear a click made elsewhere.
  calls.clear();
  updateAll1.SetVisible(false);
  updateAll1.SetEnabled(false);
  EXPECT_TRUE(menuItem.Click());
  EXPECT_EQ(calls, (std::vector<std::string>{"menu", "first", "second"}));
}

TEST_F(CommandBarsTest, UntaggedClickReachesOnlyItsOwnHandlers) {
  CommandBarControl& a = Standard(first).Add(ControlType::Button, 0, true);
  CommandBarControl& b = Standard(second).Add(ControlType::Button, 0, true);
  int aClicks = 0;
  int bClicks = 0;
  auto sa1 = a.OnClick([&](CommandBarControl&, bool&) { ++aClicks; });
  auto sa2 = a.OnClick([&](CommandBarControl&, bool&) { ++aClicks; });
  auto sb = b.OnClick([&](CommandBarControl&, bool&) { ++bClicks; });
  EXPECT_TRUE(a.Click());
  EXPECT_EQ(aClicks, 2);
  EXPECT_EQ(bClicks, 0);
}

TEST_F(CommandBarsTest, HandlerLivesAsLongAsItsSubscription) {
  CommandBarControl& b = AddTagged(first, "Update");
  int clicks = 0;
  Subscription kept;
  {
    Subscription sub = b.OnClick([&](CommandBarControl&, bool&) { ++clicks; });
    EXPECT_TRUE(sub.Active());
    kept = std::move(sub);
    EXPECT_FALSE(sub.Active());  // NOLINT(bugprone-use-after-move): moved-from handle is empty
  }
  b.Click();
  EXPECT_EQ(clicks, 1);
  kept.Reset();
  EXPECT_FALSE(kept.Active());
  b.Click();
  EXPECT_EQ(clicks, 1);
  {
    auto temporary = b.OnClick([&](CommandBarControl&, bool&) { ++clicks; });
  }
  b.Click();
  EXPECT_EQ(clicks, 1);
  EXPECT_THROW(b.OnClick(nullptr), HostError);
}

struct StateCase {
  bool visible;
  bool enabled;
  bool clickable;
};

class ClickStateTest : public CommandBarsTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(ClickStateTest, OnlyVisibleEnabledControlsCanBeClicked) {
  const StateCase& tc = GetParam();
  CommandBarControl& b = AddTagged(first, "Update");
  CommandBarControl& popup = Menu(first).Add(ControlType::Popup, 0, true);
  CommandBarControl& item = popup.Controls().Add();
  int clicks = 0;
  auto sb = b.OnClick([&](CommandBarControl&, bool&) { ++clicks; });
  auto si = item.OnClick([&](CommandBarControl&, bool&) { ++clicks; });

  b.SetVisible(tc.visible);
  b.SetEnabled(tc.enabled);
  EXPECT_EQ(b.Click(), tc.clickable);
  EXPECT_EQ(clicks, tc.clickable ? 1 : 0);

  // The state of the popup holding an item counts as well.
  clicks = 0;
  popup.SetVisible(tc.visible);
  popup.SetEnabled(tc.enabled);
  EXPECT_EQ(item.Click(), tc.clickable);
  EXPECT_EQ(clicks, tc.clickable ? 1 : 0);

  // A program's Execute clicks whatever the state.
  clicks = 0;
  b.Execute();
  item.Execute();
  EXPECT_EQ(clicks, 2);
}

INSTANTIATE_TEST_SUITE_P(States, ClickStateTest,
                         ::testing::Values(StateCase{true, true, true}, StateCase{false, true, false},
                                           StateCase{true, false, false}, StateCase{false, false, false}));

TEST_F(CommandBarsTest, HandlerCanCancelTheBuiltInAction) {
  CommandBarControl& newButton = Standard(first).Item("New");
  int defaults = 0;
  newButton.SetDefaultAction([&](CommandBarControl&) { ++defaults; });
  EXPECT_TRUE(newButton.Click());
  EXPECT_EQ(defaults, 1);

  bool laterSawCancel = false;
  auto cancel = newButton.OnClick([](CommandBarControl&, bool& cancelDefault) { cancelDefault = true; });
  auto later = newButton.OnClick([&](CommandBarControl&, bool& cancelDefault) { laterSawCancel = cancelDefault; });
  EXPECT_TRUE(newButton.Click());
  EXPECT_EQ(defaults, 1);
  EXPECT_TRUE(laterSawCancel);
}

TEST_F(CommandBarsTest, HandlersMayDeleteControlsAndCloseWindowsDuringAClick) {
  struct Window {
    explicit Window(std::shared_ptr<CommandBarsRegistry> r) : bars(std::move(r)) {}
    CommandBars bars;
    Subscription sub;
  };
  auto third = std::make_unique<Window>(registry);
  int thirdClicks = 0;
  int secondClicks = 0;
  CommandBarControl& b1 = AddTagged(first, "Close");
  CommandBarControl& b2 = AddTagged(second, "Close");
  third->sub = AddTagged(third->bars, "Close").OnClick([&](CommandBarControl&, bool&) { ++thirdClicks; });
  auto s1 = b1.OnClick([&](CommandBarControl& clicked, bool&) {
    third.reset();    // the third window closes
    b2.Delete();      // and the second window's button goes
    clicked.Delete(); // and the clicked control itself
  });
  auto s2 = b2.OnClick([&](CommandBarControl&, bool&) { ++secondClicks; });

  EXPECT_TRUE(b1.Click());
  EXPECT_EQ(thirdClicks, 0);
  EXPECT_EQ(secondClicks, 0);
  EXPECT_EQ(registry->Count(), 2);
  EXPECT_EQ(Standard(first).Count(), 6);
}

TEST_F(CommandBarsTest, ControlOutlivingItsWindowIsDeleted) {
  std::shared_ptr<CommandBarControl> item;
  std::shared_ptr<CommandBarControl> button;
  {
    CommandBars window(registry);
    button = AddTagged(window, "Update").Handle();
    item = window.Item("Menu Bar").Controls().Add(ControlType::Popup).Controls().Add().Handle();
    EXPECT_EQ(registry->Count(), 3);
  }
  EXPECT_EQ(registry->Count(), 2);
  EXPECT_TRUE(button->IsDeleted());
  EXPECT_TRUE(item->IsDeleted());
  EXPECT_EQ(item->ParentPopup(), nullptr);
  EXPECT_FALSE(item->Click());
  EXPECT_FALSE(button->Click());
}

// ------------------------------------------------------------------ faces

class PasteFaceTest : public ::testing::Test {
 protected:
  platform::Clipboard clipboard;
  CommandBars bars;
  CommandBarControl& button = bars.Item("Standard").Controls().Add(ControlType::Button, 0, true);

  static platform::Bitmap Picture() {
    platform::Bitmap picture(16, 16, platform::kMagenta);
    picture.FillRect(4, 4, 8, 8, platform::Rgb{0, 128, 0});
    return picture;
  }
  std::vector<std::uint8_t> face = platform::EncodeDib(Picture());
  std::vector<std::uint8_t> mask = platform::EncodeDib(*platform::MakeMaskBitmap(Picture(), platform::kMagenta));
  std::vector<std::uint8_t> plainDib = platform::EncodeDib(platform::Bitmap(8, 8, platform::kWhite));

  void Put(std::string_view format, std::vector<std::uint8_t> data) {
    ASSERT_TRUE(clipboard.Open());
    ASSERT_TRUE(clipboard.SetData(clipboard.RegisterFormat(format), std::move(data)));
    ASSERT_TRUE(clipboard.Close());
  }
  void PutDib(std::vector<std::uint8_t> data) {
    ASSERT_TRUE(clipboard.Open());
    ASSERT_TRUE(clipboard.SetData(platform::kCfDib, std::move(data)));
    ASSERT_TRUE(clipboard.Close());
  }
};

TEST_F(PasteFaceTest, FaceAndMaskFromToolbarFormats) {
  PutDib(plainDib);
  Put(kToolbarButtonFaceFormat, face);
  Put(kToolbarButtonMaskFormat, mask);
  button.PasteFace(clipboard);
  EXPECT_EQ(button.Face(), face);
  EXPECT_EQ(button.Mask(), mask);
  EXPECT_FALSE(clipboard.IsOpen());
}

TEST_F(PasteFaceTest, PlainBitmapWhenNoFaceFormat) {
  PutDib(plainDib);
  Put(kToolbarButtonMaskFormat, mask);  // a stray mask without a face is not used
  button.PasteFace(clipboard);
  EXPECT_EQ(button.Face(), plainDib);
  EXPECT_TRUE(button.Mask().empty());
}

TEST_F(PasteFaceTest, UnreadableFaceFallsBackToPlainBitmap) {
  PutDib(plainDib);
  Put(kToolbarButtonFaceFormat, {1, 2, 3});
  button.PasteFace(clipboard);
  EXPECT_EQ(button.Face(), plainDib);
  EXPECT_TRUE(button.Mask().empty());
}

TEST_F(PasteFaceTest, MaskThatIsNotMonochromeIsIgnored) {
  Put(kToolbarButtonFaceFormat, face);
  Put(kToolbarButtonMaskFormat, plainDib);
  button.PasteFace(clipboard);
  EXPECT_EQ(button.Face(), face);
  EXPECT_TRUE(button.Mask().empty());
}

TEST_F(PasteFaceTest, NoPictureOnClipboardIsAnErrorAndKeepsTheFace) {
  PutDib(plainDib);
  button.PasteFace(clipboard);
  ASSERT_TRUE(clipboard.Open());
  clipboard.Empty();
  clipboard.SetData(platform::kCfText, {'h', 'i'});
  clipboard.Close();
  EXPECT_THROW(button.PasteFace(clipboard), HostError);
  EXPECT_EQ(button.Face(), plainDib);
  EXPECT_FALSE(clipboard.IsOpen());

  PutDib({0, 0, 0});  // too short to be a bitmap
  EXPECT_THROW(button.PasteFace(clipboard), HostError);
}

TEST_F(PasteFaceTest, ReadsWithinTheCallersOpenClipboard) {
  PutDib(plainDib);
  ASSERT_TRUE(clipboard.Open());
  button.PasteFace(clipboard);
  EXPECT_EQ(button.Face(), plainDib);
  EXPECT_TRUE(clipboard.IsOpen());
  clipboard.Close();
}

TEST_F(PasteFaceTest, DefaultReadsTheSystemClipboard) {
  platform::Clipboard& system = platform::SystemClipboard();
  ASSERT_TRUE(platform::PutDibOnClipboard(system, Picture()));
  ASSERT_TRUE(system.Open());
  ASSERT_TRUE(system.SetData(system.RegisterFormat(kToolbarButtonFaceFormat), face));
  ASSERT_TRUE(system.SetData(system.RegisterFormat(kToolbarButtonMaskFormat), mask));
  ASSERT_TRUE(system.Close());
  button.PasteFace();
  EXPECT_EQ(button.Face(), face);
  EXPECT_EQ(button.Mask(), mask);
}

}  // namespace
}  // namespace host
