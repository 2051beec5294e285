// The common file dialog control: what it asks the person and what it
// leaves in its properties.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"
#include "support/scripted_user.hpp"

namespace platform {
namespace {

// A user interface that keeps the request it was given and answers with a
// prepared path.
class RequestKeeper final : public UserInterface {
 public:
  RequestKeeper() : UserInterface("Test") {}
  std::optional<std::string> answer;
  FileDialogRequest last;
  int asked = 0;

 protected:
  MsgBoxResult AnswerMessage(const MessageRequest&) override { return MsgBoxResult::Ok; }
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
    last = request;
    ++asked;
    return answer;
  }
  void InteractWithForm(Form&) override {}
};

class DialogForm : public Form {
 public:
  DialogForm() : Form("Holder", "Holder"), Dialog(Add<CommonDialog>("Dialog")) {}
  CommonDialog& Dialog;
};

TEST(CommonDialogTest, PassesItsSettingsAndKeepsTheChoice) {
  RequestKeeper user;
  DialogForm form;
  form.SetUser(&user);
  auto& d = form.Dialog;
  d.SetDialogTitle("Choose");
  d.SetInitDir("/data/");
  d.SetFlags(4);
  d.SetDefaultExt(".pst");
  d.SetFilter("Personal Folders Files  (*.pst)|*.pst");
  d.SetFileName("start");

  const struct {
    const char* name;
    bool save;
    std::optional<std::string> answer;
    const char* fileName;
    const char* fileTitle;
  } cases[] = {
      {"save with extension", true, "/x/a.pst", "/x/a.pst", "a.pst"},
      {"open, default extension added", false, "/x/b", "/x/b.pst", "b.pst"},
      {"relative name inside the initial folder", true, "c.pst", "/data/c.pst", "c.pst"},
      {"cancelled", true, std::nullopt, "", ""},
      {"another extension kept", false, "/x/d.txt", "/x/d.txt", "d.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.SetFileName("start");
    user.answer = c.answer;
    if (c.save) {
      d.ShowSave();
    } else {
      d.ShowOpen();
    }
    EXPECT_EQ(user.last.mode, c.save ? FileDialogMode::Save : FileDialogMode::Open);
    EXPECT_EQ(user.last.title, "Choose");
    EXPECT_EQ(user.last.initialDir, "/data/");
    EXPECT_EQ(user.last.flags, 4);
    EXPECT_EQ(user.last.defaultExt, ".pst");
    EXPECT_EQ(user.last.filter, "Personal Folders Files  (*.pst)|*.pst");
    EXPECT_EQ(user.last.fileName, "start");
    EXPECT_EQ(d.FileName(), c.fileName);
    EXPECT_EQ(d.FileTitle(), c.fileTitle);
  }
  EXPECT_EQ(user.asked, 5);
}

TEST(CommonDialogTest, IsNeverShownOnItsFormAndNeedsAUserInterface) {
  ScriptedUser user;
  DialogForm form;
  form.SetUser(&user);
  EXPECT_FALSE(form.Dialog.Visible());
  EXPECT_EQ(form.Describe().find("CommonDialog"), std::string::npos);
  EXPECT_EQ(std::string(ControlKindName(form.Dialog.Kind())), "CommonDialog");
  user.ExpectFileDialog("/tmp/x.pst");
  form.Dialog.ShowSave();
  EXPECT_EQ(user.Problems(), "");
  EXPECT_EQ(form.Dialog.FileName(), "/tmp/x.pst");

  CommonDialog loose("Loose");
  EXPECT_THROW(loose.ShowOpen(), std::logic_error);
  EXPECT_EQ(loose.FileName(), "");
}

}  // namespace
}  // namespace platform
