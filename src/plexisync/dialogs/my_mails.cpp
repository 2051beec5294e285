#include "plexisync/dialogs/my_mails.hpp"

#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

std::vector<std::string> ParseMyMails(const std::string& stored) {
  const std::string open = kMyMailOpen;
  const std::string close = kMyMailClose;
  std::vector<std::string> out;
  std::string rest = stored;
  for (;;) {
    const auto start = rest.find(open);
    if (start == std::string::npos) break;
    // The closing mark is searched from the start of the text, as the list
    // has always been read; one that is missing, or stands before the
    // opening mark, ends the list.
    const auto end = rest.find(close);
    if (end == std::string::npos || end < start + open.size()) break;
    out.push_back(rest.substr(start + open.size(), end - start - open.size()));
    rest.erase(0, end + close.size());
  }
  return out;
}

std::string FormatMyMails(const std::vector<std::string>& addresses) {
  std::string out;
  for (const auto& a : addresses) {
    out += kMyMailOpen;
    out += a;
    out += kMyMailClose;
  }
  return out;
}

frmMyMails::frmMyMails(Context& ctx)
    : Form("frmMyMails", "Plexisync - My Email Addresses"),
      Label3(Add<platform::Label>(
          "Label3", "Please enter all your e-mail addresses you are using in any of the Outlook accounts.")),
      Label1(Add<platform::Label>("Label1", "e-mail addresses:")),
      MyMails(Add<platform::ListBox>("MyMails")),
      Label2(Add<platform::Label>("Label2", "Add new:")),
      NewMail(Add<platform::TextBox>("NewMail")),
      AddButton(Add<platform::Button>("AddButton", "Add")),
      RemoveButton(Add<platform::Button>("RemoveButton", "Remove")),
      Accept(Add<platform::Button>("Accept", "OK")),
      Cancel(Add<platform::Button>("Cancel", "Cancel")),
      ctx_(ctx) {
  AddButton.SetDefault(true);
  Cancel.SetCancel(true);
  AddButton.onClick = [this] { AddButton_Click(); };
  RemoveButton.onClick = [this] { RemoveButton_Click(); };
  Accept.onClick = [this] { Accept_Click(); };
  Cancel.onClick = [this] { Cancel_Click(); };
}

void frmMyMails::OnLoad() {
  // A load starts from empty controls, as a newly created window does.
  MyMails.Clear();
  NewMail.SetText("");
  const std::string stored = ctx_.reg().GetString(ctx_.RegKey, "MyMails", "");
  for (const auto& address : ParseMyMails(stored)) MyMails.AddItem(address);
}

void frmMyMails::AddButton_Click() {
  PassOver([&] {
    const std::string text = NewMail.Text();
    if (text.empty()) return;
    bool known = false;
    for (const auto& entry : MyMails.Items()) {
      if (entry == text) {
        known = true;
        break;
      }
    }
    if (!known) MyMails.AddItem(text);
    NewMail.SetText("");
    NewMail.SetFocus();
  });
}

void frmMyMails::RemoveButton_Click() {
  PassOver([&] {
    const int selected = MyMails.ListIndex();
    if (selected >= 0) MyMails.RemoveItem(selected);
  });
}

void frmMyMails::Accept_Click() {
  PassOver([&] {
    ctx_.reg().SetValue(ctx_.RegKey, "MyMails", FormatMyMails(MyMails.Items()), 1);
    Hide();
    if (!FirstRun) ctx_.Form<AdvSettings>().Show(false);
  });
}

void frmMyMails::Cancel_Click() {
  PassOver([&] {
    Hide();
    if (!FirstRun) ctx_.Form<AdvSettings>().Show(false);
  });
}

void frmMyMails::OnTerminate() {
  PassOver([&] {
    if (FirstRun || !ctx_.HasForm<AdvSettings>()) return;
    auto& options = ctx_.Form<AdvSettings>();
    if (options.IsLoaded()) options.Show(false);
  });
}

}  // namespace plexisync
