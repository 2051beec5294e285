// The commands that work through the add-in's windows: the options window,
// the own-address window, the error log and the database repair. They act
// on the windows as the person would: show the window, change its controls
// and press its buttons.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/json_output.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"

namespace cli {
namespace {

using json = nlohmann::ordered_json;
using plexisync::AdvSettings;
using plexisync::frmMyMails;

plexisync::Context& Addin(ProfileSession& s) {
  plexisync::Context* ctx = s.Addin();
  if (!ctx) throw CliError("the add-in is not loaded");
  return *ctx;
}

// The options window's controls by the names of the settings they store.
struct OptionControl {
  const char* setting;
  platform::CheckBox* check = nullptr;
  platform::ComboBox* list = nullptr;
};

std::vector<OptionControl> OptionControls(AdvSettings& f) {
  return {
      {"Send_Updated", &f.SendUpdated, nullptr},   {"Dont_Send_Comments", &f.DontSendComments, nullptr},
      {"Dont_Receive", &f.DontReceive, nullptr},   {"Export", &f.Export, nullptr},
      {"Kiek", nullptr, &f.Kiek},                  {"AutoUpdate", &f.AutoUpdate, nullptr},
      {"GMT", nullptr, &f.GMT},
  };
}

std::string KnownSettings() {
  return "Send_Updated, Dont_Send_Comments, Dont_Receive, Export, Kiek, AutoUpdate, GMT";
}

AdvSettings& OptionsWindow(ProfileSession& s) {
  auto& form = Addin(s).Form<AdvSettings>();
  form.Load();
  return form;
}

std::optional<int> ParseSwitch(const std::string& text) {
  const std::string t = platform::FoldCase(platform::Trim(text));
  if (t == "1" || t == "on" || t == "true" || t == "yes") return 1;
  if (t == "0" || t == "off" || t == "false" || t == "no") return 0;
  return std::nullopt;
}

std::string ListChoices(const platform::ComboBox& list) {
  std::string text;
  for (const auto& item : list.Items()) {
    if (!text.empty()) text += ", ";
    text += item;
  }
  return text;
}

std::string ShownValue(const OptionControl& c) {
  if (c.check) return c.check->Checked() ? "on" : "off";
  return c.list->Text();
}

struct Change {
  OptionControl control;
  int value = 0;  // check box value or list position
};

std::vector<Change> ParseOptionChanges(AdvSettings& form, const std::vector<std::string>& assignments) {
  std::vector<Change> changes;
  for (const auto& text : assignments) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) throw CliError("expected NAME=VALUE, got \"" + text + "\"");
    const std::string name = platform::Trim(text.substr(0, eq));
    const std::string value = platform::Trim(text.substr(eq + 1));
    std::optional<OptionControl> found;
    for (const auto& c : OptionControls(form)) {
      if (platform::EqualsIgnoreCase(c.setting, name)) found = c;
    }
    if (!found) throw CliError("unknown setting: " + name + " (known: " + KnownSettings() + ")");
    Change change{*found, 0};
    if (found->check) {
      auto v = ParseSwitch(value);
      if (!v) throw CliError("malformed value for " + std::string(found->setting) + " (1/0 or on/off): \"" + value + "\"");
      change.value = *v;
    } else {
      const auto& items = found->list->Items();
      auto it = std::find(items.begin(), items.end(), value);
      if (it == items.end()) {
        throw CliError("malformed value for " + std::string(found->setting) + " (one of " +
                       ListChoices(*found->list) + "): \"" + value + "\"");
      }
      change.value = static_cast<int>(it - items.begin());
    }
    changes.push_back(change);
  }
  // The order a person would use: a check box that enables a list is ticked
  // before the list is changed, and one that disables it is cleared after.
  auto rank = [](const Change& c) {
    if (!c.control.check) return 1;
    return c.value == 1 ? 0 : 2;
  };
  std::stable_sort(changes.begin(), changes.end(),
                   [&](const Change& a, const Change& b) { return rank(a) < rank(b); });
  return changes;
}

// Transcript entries recorded since `from` that contain `text`.
bool TranscriptHas(const platform::UserInterface& user, std::size_t from, std::string_view text) {
  const auto& t = user.Transcript();
  for (std::size_t i = from; i < t.size(); ++i) {
    if (t[i].find(text) != std::string::npos) return true;
  }
  return false;
}

void Press(platform::Button& button) {
  if (!button.Click()) throw CliError("the button \"" + button.Caption() + "\" cannot be pressed now");
}

}  // namespace

void ShowOptions(ProfileSession& s, std::ostream& out, bool asJson) {
  auto& form = OptionsWindow(s);
  const auto controls = OptionControls(form);
  if (asJson) {
    json doc = json::object();
    for (const auto& c : controls) {
      if (c.check) {
        doc[c.setting] = c.check->Checked();
      } else if (std::string(c.setting) == "Kiek") {
        try {
          doc[c.setting] = std::stoi(c.list->Text());
        } catch (...) {
          doc[c.setting] = c.list->Text();
        }
      } else {
        doc[c.setting] = c.list->Text();
      }
    }
    PrintJson(out, doc);
    return;
  }
  for (const auto& c : controls) {
    std::string name = c.setting;
    name.resize(std::max<std::size_t>(name.size(), 20), ' ');
    std::string value = ShownValue(c);
    value.resize(std::max<std::size_t>(value.size(), 7), ' ');
    std::string caption;
    if (c.check) caption = c.check->Caption();
    if (c.list == &form.Kiek) caption = form.Label1.Caption() + (form.Kiek.Enabled() ? "" : " (off: Export is off)");
    if (c.list == &form.GMT) caption = form.Label2.Caption();
    out << name << value << caption << "\n";
  }
}

void ChangeOptions(ProfileSession& s, std::ostream& out, const std::vector<std::string>& assignments, bool cancel) {
  auto& form = OptionsWindow(s);
  const auto changes = ParseOptionChanges(form, assignments);
  std::vector<std::string> before;
  for (const auto& c : OptionControls(form)) before.push_back(ShownValue(c));

  form.Show(false);
  for (const auto& change : changes) {
    if (change.control.check) {
      platform::CheckBox& box = *change.control.check;
      if (box.Value() == change.value) continue;
      out << (change.value ? "Checking" : "Unchecking") << " \"" << box.Caption() << "\"\n";
      box.Click();
      continue;
    }
    platform::ComboBox& list = *change.control.list;
    if (!list.Enabled()) {
      out << "Pressing \"" << form.Cancel.Caption() << "\"\n";
      Press(form.Cancel);
      throw CliError(std::string(change.control.setting) + " cannot be changed while Export is off");
    }
    if (list.ListIndex() == change.value) continue;
    out << "Choosing " << list.List(change.value) << " in " << change.control.setting << "\n";
    list.SetListIndex(change.value);
  }
  platform::Button& button = cancel ? form.Cancel : form.Accept;
  out << "Pressing \"" << button.Caption() << "\"\n";
  Press(button);
  if (cancel) {
    out << "Nothing stored\n";
    return;
  }
  std::size_t i = 0, changed = 0;
  for (const auto& c : OptionControls(form)) {
    const std::string now = ShownValue(c);
    if (now != before[i]) {
      out << "Stored " << c.setting << ": " << before[i] << " -> " << now << "\n";
      ++changed;
    }
    ++i;
  }
  if (changed == 0) out << "Nothing changed\n";
}

void ShowMyAddresses(ProfileSession& s, std::ostream& out, bool asJson) {
  auto& form = Addin(s).Form<frmMyMails>();
  form.Load();
  const auto& items = form.MyMails.Items();
  if (asJson) {
    PrintJson(out, json(items));
    return;
  }
  if (items.empty()) out << "No own addresses\n";
  for (const auto& a : items) out << PrintableLine(a) << "\n";
}

void ChangeMyAddresses(ProfileSession& s, std::ostream& out, const std::vector<std::string>& add,
                       const std::vector<std::string>& remove) {
  auto& ctx = Addin(s);
  auto& form = ctx.Form<frmMyMails>();
  form.Load();
  for (const auto& a : add) {
    if (a.empty()) throw CliError("empty address to add");
  }
  for (const auto& r : remove) {
    const auto& items = form.MyMails.Items();
    if (std::find(items.begin(), items.end(), r) == items.end()) {
      throw CliError("not an own address: " + r);
    }
  }
  const bool optionsWereVisible = ctx.HasForm<AdvSettings>() && ctx.Form<AdvSettings>().IsVisible();

  form.Show(false);
  for (const auto& r : remove) {
    const auto& items = form.MyMails.Items();
    auto it = std::find(items.begin(), items.end(), r);
    if (it == items.end()) continue;  // listed twice on the command line
    out << "Selecting " << r << " and pressing \"" << form.RemoveButton.Caption() << "\"\n";
    form.MyMails.SetListIndex(static_cast<int>(it - items.begin()));
    Press(form.RemoveButton);
  }
  for (const auto& a : add) {
    const int count = form.MyMails.ListCount();
    out << "Typing " << a << " and pressing \"" << form.AddButton.Caption() << "\"\n";
    form.NewMail.SetText(a);
    Press(form.AddButton);
    if (form.MyMails.ListCount() == count) out << "Already listed: " << a << "\n";
  }
  out << "Pressing \"" << form.Accept.Caption() << "\"\n";
  Press(form.Accept);
  // OK brings the options window back, as after editing from there; the
  // program did not come from it, so it closes it again.
  if (!optionsWereVisible && ctx.HasForm<AdvSettings>()) {
    auto& options = ctx.Form<AdvSettings>();
    if (options.IsVisible()) options.Hide();
  }
  const int stored = form.MyMails.ListCount();
  out << "Stored " << stored << " own address" << (stored == 1 ? "" : "es") << "\n";
}

void ShowLog(ProfileSession& s, std::ostream& out) {
  auto& ctx = Addin(s);
  std::string path = ctx.InstDir + "errors.log";
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    out << "The error log is empty\n";
    return;
  }
  // A log that is there but cannot be read is an error, not an empty log.
  std::ifstream in(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path, ec) || !in) {
    throw CliError("the error log " + path + " cannot be read");
  }
  std::ostringstream text;
  if (std::filesystem::file_size(path, ec) > 0 && (!(text << in.rdbuf()) || in.bad())) {
    throw CliError("the error log " + path + " cannot be read");
  }
  std::string log = text.str();
  log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
  if (log.empty()) {
    out << "The error log is empty\n";
    return;
  }
  log = Printable(log);
  out << log;
  if (log.back() != '\n') out << "\n";
}

void RepairDatabase(ProfileSession& s, std::ostream& out) {
  auto& ctx = Addin(s);
  auto& form = OptionsWindow(s);
  const std::size_t mark = ctx.svc.user.Transcript().size();
  form.Show(false);
  out << "Pressing \"" << form.Repair.Caption() << "\"\n";
  Press(form.Repair);
  const bool ok = TranscriptHas(ctx.svc.user, mark, "Update successful!");
  const bool kept = !ok && TranscriptHas(ctx.svc.user, mark, "could not be checked");
  // The repair shows the options window again; the program closes it.
  if (form.IsVisible()) form.Hide();
  // A failure is the command's error, on standard error.
  if (kept) {
    throw CliError("the database was updated, but some entries could not be checked and were kept; see plexisync log");
  }
  if (!ok) throw CliError("the repair did not finish; see plexisync log for what went wrong");
  out << "The database was repaired\n";
}

}  // namespace cli
