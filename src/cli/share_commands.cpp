// The sharing commands: the share wizard worked as the person would (open
// it on a folder, choose contacts, press its buttons), the recipients as
// the sharing database holds them, and the Update and Update All buttons,
// with a report of what went out.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string_view>
#include <thread>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/folder_paths.hpp"
#include "cli/json_output.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "host/errors.hpp"
#include "host/object_model.hpp"
#include "platform/clock.hpp"
#include "platform/datetime.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/main_form.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace cli {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;
using plexisync::MainForm;

plexisync::Context& Addin(ProfileSession& s) {
  plexisync::Context* ctx = s.Addin();
  if (!ctx) throw CliError("the add-in is not loaded");
  return *ctx;
}

std::string Shown(std::string_view caption) { return platform::Trim(platform::PlainCaption(caption)); }

void Press(platform::Button& button) {
  if (!button.Click()) throw CliError("the button \"" + Shown(button.Caption()) + "\" cannot be pressed now");
}

// ---- What the sharing database holds ----

struct Member {
  std::string id;
  std::string name;
  std::string address;
  bool selected = false;
  std::optional<std::string> lastUpdate;  // as stored; none when never stamped
};

// Reads a value that may be absent; nullopt when it is.
std::optional<std::string> StoredText(plexisync::CRegistry& reg, const std::string& key, const std::string& name) {
  if (reg.ValueType(key, name) == 0) return std::nullopt;
  return reg.GetString(key, name, "");
}

std::vector<Member> Members(plexisync::Context& ctx, const std::string& folderId) {
  auto& reg = ctx.reg();
  std::vector<Member> members;
  const std::string folderKey = plexisync::FolderKeyPath(ctx, folderId);
  if (!reg.KeyExists(folderKey)) return members;
  for (const auto& subkey : reg.GetAllSubKeys(folderKey)) {
    if (plexisync::IsFolderDataKey(subkey)) continue;
    const std::string key = plexisync::RecipientKeyPath(ctx, folderId, subkey);
    Member m;
    m.id = subkey;
    m.name = reg.GetString(key, "Name", "");
    m.address = reg.GetString(key, "eMail", "");
    m.selected = reg.GetString(key, "Bool", "0") == "1";
    m.lastUpdate = StoredText(reg, key, "LastUpdate");
    if (m.lastUpdate && *m.lastUpdate == plexisync::kNeverUpdated) m.lastUpdate.reset();
    members.push_back(std::move(m));
  }
  return members;
}

std::optional<std::string> Updateable(plexisync::Context& ctx, const std::string& folderId) {
  return StoredText(ctx.reg(), ctx.RegKey + plexisync::kUpdateableKey, folderId);
}

std::string UpdateableText(const std::optional<std::string>& flag) {
  if (!flag) return "not known yet";
  if (*flag == "1") return "1 (Update and Update All send it)";
  if (*flag == "2") return "2 (no usable recipient)";
  return PrintableLine(*flag);
}

// ---- Reports ----

// The error log's size: the add-in logs its failures instead of letting
// them out, so a log that grew during a command tells that something failed.
std::uintmax_t ErrorLogSize(plexisync::Context& ctx) {
  if (ctx.InstDir.empty()) return 0;
  std::error_code ec;
  const auto size = fs::file_size(ctx.InstDir + "errors.log", ec);
  return ec ? 0 : size;
}

// Watches a command that may send: the update mails that reach Sent Items,
// and the recipients' "LastUpdate" stamps of the folders concerned.
class SendWatch {
 public:
  SendWatch(ProfileSession& s, plexisync::Context& ctx, std::vector<std::string> folderIds)
      : s_(s),
        ctx_(ctx),
        folderIds_(std::move(folderIds)),
        logSize_(ErrorLogSize(ctx)) {
    const platform::Clock& clock = s.Services().clock;
    const platform::DateTime start = clock.Now();
    bool stampedThisSecond = false;
    for (const auto& id : folderIds_) {
      for (const auto& m : Members(ctx_, id)) {
        if (!m.selected) continue;
        before_[id + "\\" + m.id] = m.lastUpdate.value_or("");
        const auto when = m.lastUpdate ? platform::DateTime::TryParse(*m.lastUpdate) : std::nullopt;
        stampedThisSecond = stampedThisSecond || (when && *when == start.AddSeconds(5));
      }
    }
    // A stamp is the time of the send plus 5 seconds, to the second: one
    // written earlier in this same second would read the same as a new one.
    // The send waits for the next second, so that a stamp is a change.
    for (int i = 0; stampedThisSecond && i < 150 && clock.Now() == start; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto sent = s_.Session()->GetDefaultFolder(host::kFolderSentMail);
    // The add-in removes an update mail from Sent Items as soon as it
    // arrives there; the arrival is what is counted.
    subscription_ = sent->Items()->OnItemAdd([this](std::shared_ptr<host::Item> item) {
      try {
        if (item->DefaultValue() != plexisync::kUpdateMailSubject) return;
      } catch (const std::exception&) {
        // Gone already: only update mails are removed at once.
      }
      ++sent_;
    });
  }

  // One or two lines: what went out, what waits, who was stamped.
  int Report(std::ostream& out) {
    s_.DoEvents();
    subscription_.Reset();
    int waiting = 0;
    s_.AsPerson([&] {
      auto outbox = s_.Session()->GetDefaultFolder(host::kFolderOutbox)->Items();
      const int count = outbox->Count();
      for (int i = 1; i <= count; ++i) {
        if (outbox->Item(i)->DefaultValue() == plexisync::kUpdateMailSubject) ++waiting;
      }
    });
    std::size_t stamped = 0, selected = 0;
    for (const auto& id : folderIds_) {
      for (const auto& m : Members(ctx_, id)) {
        if (!m.selected) continue;
        ++selected;
        auto it = before_.find(id + "\\" + m.id);
        if (m.lastUpdate && (it == before_.end() || it->second != *m.lastUpdate)) ++stamped;
      }
    }
    out << (sent_ == 0 ? std::string("No update mail was sent")
                       : "Sent " + std::to_string(sent_) + " update mail" + (sent_ == 1 ? "" : "s"));
    if (waiting > 0) out << "; " << waiting << " waiting in the Outbox";
    out << "\n";
    out << "Stamped " << stamped << " of " << selected << " recipient" << (selected == 1 ? "" : "s");
    if (folderIds_.size() != 1) out << " in " << folderIds_.size() << " folder" << (folderIds_.size() == 1 ? "" : "s");
    out << "\n";
    if (ErrorLogSize(ctx_) != logSize_) {
      out << "The add-in logged an error meanwhile; see plexisync log\n";
      return 1;
    }
    return 0;
  }

 private:
  ProfileSession& s_;
  plexisync::Context& ctx_;
  std::vector<std::string> folderIds_;
  std::uintmax_t logSize_;
  std::map<std::string, std::string> before_;
  host::Subscription subscription_;
  int sent_ = 0;
};

// ---- The wizard ----

json EntryJson(const platform::ListItem& e) {
  const std::string last = e.SubItem(1);
  return json{{"entryId", e.tag}, {"name", e.text}, {"address", e.toolTip},
              {"lastUpdate", last.empty() ? json(nullptr) : json(last)}};
}

void PrintEntries(std::ostream& out, const platform::ListView& list) {
  for (const auto& e : list.Items()) {
    out << "  " << e.tag << "  " << PrintableLine(e.text);
    if (!e.toolTip.empty()) out << " <" << PrintableLine(e.toolTip) << ">";
    if (!e.SubItem(1).empty()) out << "  last update " << PrintableLine(e.SubItem(1));
    out << "\n";
  }
}

void PrintLists(std::ostream& out, MainForm& w, bool asJson) {
  const std::string lookIn = platform::Trim(w.ParinkFolder.Text());
  if (asJson) {
    json contacts = json::array(), recipients = json::array();
    for (const auto& e : w.SarIsh.Items()) contacts.push_back(EntryJson(e));
    for (const auto& e : w.SarI.Items()) recipients.push_back(EntryJson(e));
    PrintJson(out, json{{"title", w.FolderName.Caption()},
                        {"lookIn", lookIn},
                        {"contacts", contacts},
                        {"recipients", recipients}});
    return;
  }
  out << PrintableLine(w.FolderName.Caption()) << "\n";
  out << "Look in: " << PrintableLine(lookIn) << " (" << w.SarIsh.Count() << " contact"
      << (w.SarIsh.Count() == 1 ? "" : "s") << ")\n";
  PrintEntries(out, w.SarIsh);
  out << "Recipients (" << w.SarI.Count() << ")\n";
  PrintEntries(out, w.SarI);
}

// The text of the last message box recorded since `from`, or empty.
std::string LastMessage(const platform::UserInterface& user, std::size_t from) {
  const auto& t = user.Transcript();
  for (std::size_t i = t.size(); i > from; --i) {
    const std::string& entry = t[i - 1];
    if (entry.rfind("Message ", 0) != 0) continue;
    std::string text;
    std::size_t pos = entry.find('\n');
    while (pos != std::string::npos) {
      const std::size_t next = entry.find('\n', pos + 1);
      std::string line = entry.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
      if (line.rfind("  ", 0) == 0) line.erase(0, 2);
      if (!text.empty()) text += " ";
      text += line;
      pos = next;
    }
    return platform::Trim(text);
  }
  return {};
}

// Entries of the list that the CONTACT names: those whose tag is that entry
// id, else those whose text is exactly that name.
std::vector<std::size_t> Matching(const platform::ListView& list, const std::string& contact) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (platform::EqualsIgnoreCase(list.Item(i).tag, contact)) found.push_back(i);
  }
  if (!found.empty()) return found;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (list.Item(i).text == contact) found.push_back(i);
  }
  return found;
}

// The contact an entry id names anywhere in the profile; null when the text
// is no entry id of a contact.
std::shared_ptr<host::ContactItem> ContactById(ProfileSession& s, const std::string& text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); })) {
    return nullptr;
  }
  return s.AsPerson([&]() -> std::shared_ptr<host::ContactItem> {
    try {
      return std::dynamic_pointer_cast<host::ContactItem>(s.Session()->GetItemFromID(text));
    } catch (const host::NotFoundError&) {
      return nullptr;
    }
  });
}

class Wizard {
 public:
  Wizard(ProfileSession& s, plexisync::Context& ctx, std::ostream& out, MainForm& form, std::string folderPath)
      : s_(s), ctx_(ctx), out_(out), w_(form), folderPath_(std::move(folderPath)) {}

  // Closes the wizard with Cancel when it is still open (nothing is stored).
  void CancelIfOpen(bool quiet) {
    if (!w_.IsVisible()) return;
    if (!quiet) out_ << "Pressing \"" << Shown(w_.Cancel.Caption()) << "\"\n";
    if (w_.Cancel.Enabled()) {
      w_.Cancel.Click();
    }
    if (w_.IsVisible()) w_.Hide();
  }

  void ChooseSource(const std::string& path) {
    auto folder = s_.AsPerson([&] { return ResolveFolder(*s_.Session(), path); });
    const std::string id = s_.AsPerson([&] { return folder->EntryID(); });
    const auto& list = w_.FolderList();
    std::size_t index = list.size();
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (platform::EqualsIgnoreCase(list[i].substr(0, list[i].find(' ')), id)) index = i;
    }
    if (index == list.size()) {
      throw CliError("\"Look in:\" does not offer " + path +
                     " (it lists the contacts folders of the default contacts folder's store)");
    }
    const std::string name = platform::Trim(w_.ParinkFolder.List(static_cast<int>(index)));
    out_ << "Choosing \"" << PrintableLine(name) << "\" in \"Look in:\" and pressing \"" << Shown(w_.go.Caption())
         << "\"\n";
    w_.ParinkFolder.DropDown();
    w_.ParinkFolder.SetListIndex(static_cast<int>(index));
    Press(w_.go);
    if (!w_.SourceFolder() || !platform::EqualsIgnoreCase(w_.SourceFolder()->EntryID(), id)) {
      throw CliError("the wizard did not load " + path + " (see plexisync log)");
    }
  }

  void Add(const std::string& contact) {
    const std::string lookIn = platform::Trim(w_.ParinkFolder.Text());
    auto byId = ContactById(s_, contact);
    std::string typed = contact;
    std::optional<std::size_t> wanted;
    if (byId) {
      typed = s_.AsPerson([&] { return byId->FullName(); });
      for (std::size_t i = 0; i < w_.SarIsh.Count(); ++i) {
        if (platform::EqualsIgnoreCase(w_.SarIsh.Item(i).tag, contact)) wanted = i;
      }
      if (!wanted) {
        throw CliError("the contact " + contact + " (" + PrintableLine(typed) + ") is not in " + PrintableLine(lookIn) +
                       "; choose its folder with --source");
      }
    } else {
      std::vector<std::size_t> named;
      for (std::size_t i = 0; i < w_.SarIsh.Count(); ++i) {
        if (w_.SarIsh.Item(i).text == contact) named.push_back(i);
      }
      if (named.empty()) throw CliError("no contact named \"" + PrintableLine(contact) + "\" in " + PrintableLine(lookIn));
      if (named.size() > 1) {
        throw CliError("ambiguous contact: " + std::to_string(named.size()) + " contacts in " + PrintableLine(lookIn) +
                       " are named \"" + PrintableLine(contact) + "\"; give the entry id");
      }
      wanted = named.front();
    }
    const std::string tag = w_.SarIsh.Item(*wanted).tag;
    const std::string name = w_.SarIsh.Item(*wanted).text;

    // The search box selects the first entry that begins with the text; a
    // person then clicks the right one when another comes first.
    w_.FindBox.SetText("");
    if (!typed.empty()) w_.FindBox.SetText(typed);
    const bool right = !typed.empty() && w_.SarIsh.SelectedIndex() == static_cast<int>(*wanted);
    if (!typed.empty()) out_ << "Typing \"" << PrintableLine(typed) << "\" into \"Search:\"";
    if (!right) {
      if (!typed.empty()) out_ << "\n";
      out_ << "Clicking \"" << PrintableLine(name) << "\" in the list";
      if (!w_.SarIsh.ClickItem(*wanted)) throw CliError("the contacts list cannot be clicked now");
    }
    out_ << " and pressing \"" << Shown(w_.Pirmyn.Caption()) << "\"\n";
    const platform::ListItem* selected = w_.SarIsh.SelectedItem();
    if (!selected || selected->tag != tag) {
      throw CliError("the wizard did not select " + PrintableLine(name) + " in the contacts list");
    }
    const std::size_t before = w_.SarI.Count();
    Press(w_.Pirmyn);
    const bool listed = std::any_of(w_.SarI.Items().begin(), w_.SarI.Items().end(),
                                    [&](const platform::ListItem& e) { return e.tag == tag; });
    if (!listed) throw CliError("\">>\" did not add " + PrintableLine(name) + " to the recipients");
    if (w_.SarI.Count() == before) out_ << "Already a recipient: " << PrintableLine(name) << "\n";
  }

  void Remove(const std::string& contact) {
    const auto found = Matching(w_.SarI, contact);
    if (found.empty()) throw CliError("not a recipient of " + folderPath_ + ": " + PrintableLine(contact));
    if (found.size() > 1) {
      throw CliError("ambiguous recipient: " + std::to_string(found.size()) + " recipients of " + folderPath_ +
                     " are named \"" + PrintableLine(contact) + "\"; give the entry id");
    }
    const std::string tag = w_.SarI.Item(found.front()).tag;
    out_ << "Selecting \"" << PrintableLine(w_.SarI.Item(found.front()).text) << "\" and pressing \""
         << Shown(w_.Atgal.Caption()) << "\"\n";
    if (!w_.SarI.ClickItem(found.front())) throw CliError("the recipients list cannot be clicked now");
    Press(w_.Atgal);
    for (const auto& e : w_.SarI.Items()) {
      if (e.tag == tag) throw CliError("\"<<\" did not remove " + PrintableLine(e.text));
    }
  }

  void NewContact(const std::vector<std::string>& assignments) {
    auto* terminal = dynamic_cast<platform::TerminalUser*>(&ctx_.svc.user);
    if (!terminal) throw CliError("--new-contact needs the person at the terminal");
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& text : assignments) {
      const std::size_t eq = text.find('=');
      fields.emplace_back(platform::Trim(text.substr(0, eq)), text.substr(eq + 1));
    }
    std::string failure;
    terminal->ActOnNextForm("ContactEditor", [&](platform::Form& editor) {
      for (const auto& [name, value] : fields) {
        auto* box = editor.Find<platform::TextBox>(name);
        if (!box) {
          std::string known;
          for (auto* c : editor.Controls()) {
            if (dynamic_cast<platform::TextBox*>(c)) known += (known.empty() ? "" : ", ") + c->Name();
          }
          failure = "the contact form has no field " + name + " (fields: " + known + ")";
          if (auto* cancel = editor.CancelButton()) cancel->Click();
          if (editor.IsVisible()) editor.Hide();
          return;
        }
        out_ << "Typing \"" << PrintableLine(value) << "\" into " << box->Name() << "\n";
        box->SetText(value);
      }
      platform::Button* save = editor.DefaultButton();
      if (!save) {
        failure = "the contact form has no button to save it";
        if (editor.IsVisible()) editor.Hide();
        return;
      }
      out_ << "Pressing \"" << Shown(save->Caption()) << "\"\n";
      save->Click();
    });
    struct Drop {
      platform::TerminalUser& t;
      ~Drop() { t.ActOnNextForm({}, {}); }
    } drop{*terminal};

    const std::size_t before = w_.SarI.Count();
    out_ << "Pressing \"" << Shown(w_.Naujas.Caption()) << "\"\n";
    Press(w_.Naujas);
    if (!failure.empty()) throw CliError(failure);
    if (w_.SarI.Count() == before) throw CliError("the new contact was not saved (see plexisync log)");
    out_ << "New recipient: " << PrintableLine(w_.SarI.Items().back().text) << " (" << w_.SarI.Items().back().tag
         << ")\n";
  }

 private:
  ProfileSession& s_;
  plexisync::Context& ctx_;
  std::ostream& out_;
  MainForm& w_;
  std::string folderPath_;
};

void CheckNewContacts(const std::vector<std::vector<std::string>>& newContacts) {
  for (const auto& assignments : newContacts) {
    if (assignments.empty()) throw CliError("--new-contact needs PROPERTY=VALUE pairs");
    for (const auto& text : assignments) {
      const std::size_t eq = text.find('=');
      if (eq == std::string::npos || platform::Trim(text.substr(0, eq)).empty()) {
        throw CliError("--new-contact: expected PROPERTY=VALUE, got \"" + PrintableLine(text) + "\"");
      }
    }
  }
}

std::string Names(const std::vector<Member>& members) {
  std::string text;
  for (const auto& m : members) {
    if (!m.selected) continue;
    text += (text.empty() ? "" : ", ") + PrintableLine(m.name);
  }
  return text;
}

}  // namespace

int Share(ProfileSession& s, std::ostream& out, const ShareRequest& request, bool asJson) {
  auto& ctx = Addin(s);
  CheckNewContacts(request.newContacts);
  auto folder = s.AsPerson([&] { return ResolveFolder(*s.Session(), request.folder); });
  const std::string path = s.AsPerson([&] { return FullPath(*folder); });
  const std::string folderId = s.AsPerson([&] { return folder->EntryID(); });
  if (!request.source.empty()) s.AsPerson([&] { ResolveFolder(*s.Session(), request.source); });

  const std::uintmax_t logSize = ErrorLogSize(ctx);
  const std::size_t mark = ctx.svc.user.Transcript().size();
  plexisync::Share_click(ctx, folder);
  auto& form = ctx.Form<MainForm>();
  if (!form.IsVisible()) {
    const std::string message = LastMessage(ctx.svc.user, mark);
    throw CliError(message.empty() ? "the share wizard did not open on " + path + " (see plexisync log)"
                                   : message);
  }

  Wizard wizard(s, ctx, out, form, path);
  std::optional<SendWatch> watch;
  try {
    if (request.finish == ShareRequest::Finish::kShow) {
      PrintLists(out, form, asJson);
      wizard.CancelIfOpen(asJson);
      if (!asJson) out << "Nothing stored\n";
      return 0;
    }
    if (!request.source.empty()) wizard.ChooseSource(request.source);
    for (const auto& c : request.add) wizard.Add(c);
    for (const auto& c : request.remove) wizard.Remove(c);
    for (const auto& c : request.newContacts) wizard.NewContact(c);

    switch (request.finish) {
      case ShareRequest::Finish::kShow:
        break;
      case ShareRequest::Finish::kCancel:
        wizard.CancelIfOpen(false);
        out << (request.newContacts.empty() ? "Nothing stored\n"
                                            : "Nothing else stored (a new contact is a recipient at once)\n");
        return 0;
      case ShareRequest::Finish::kSave:
        out << "Pressing \"" << Shown(form.SaveBut.Caption()) << "\"\n";
        Press(form.SaveBut);
        break;
      case ShareRequest::Finish::kSend:
        if (form.SarI.Count() == 0) {
          throw CliError("\"" + Shown(form.OK.Caption()) + "\" needs a recipient; --save stores an empty list");
        }
        watch.emplace(s, ctx, std::vector<std::string>{folderId});
        out << "Pressing \"" << Shown(form.OK.Caption()) << "\"\n";
        Press(form.OK);
        break;
    }
  } catch (...) {
    wizard.CancelIfOpen(false);
    throw;
  }
  if (form.IsVisible()) {
    wizard.CancelIfOpen(false);
    const std::string notStored = "the wizard did not store the recipients (see plexisync log)";
    if (!watch) throw CliError(notStored);
    // "Save && Send" goes on to send when its save fails: what the send did
    // is reported all the same, and the failed save ends the command.
    watch->Report(out);
    out << "Updateable: " << UpdateableText(Updateable(ctx, folderId)) << "\n";
    throw CliError(notStored);
  }
  const auto members = Members(ctx, folderId);
  const std::size_t selected =
      static_cast<std::size_t>(std::count_if(members.begin(), members.end(), [](const Member& m) { return m.selected; }));
  out << "Stored " << selected << " recipient" << (selected == 1 ? "" : "s") << " of " << PrintableLine(path);
  if (selected) out << ": " << Names(members);
  out << "\n";
  int rc = 0;
  if (watch) {
    rc = watch->Report(out);
  } else if (ErrorLogSize(ctx) != logSize) {
    out << "The add-in logged an error meanwhile; see plexisync log\n";
    rc = 1;
  }
  out << "Updateable: " << UpdateableText(Updateable(ctx, folderId)) << "\n";
  return rc;
}

void ShowMembers(ProfileSession& s, std::ostream& out, const std::string& folderPath, bool asJson) {
  auto& ctx = Addin(s);
  auto folder = s.AsPerson([&] { return ResolveFolder(*s.Session(), folderPath); });
  const std::string path = s.AsPerson([&] { return FullPath(*folder); });
  const std::string id = s.AsPerson([&] { return folder->EntryID(); });
  const auto members = Members(ctx, id);
  const auto flag = Updateable(ctx, id);
  if (asJson) {
    json list = json::array();
    for (const auto& m : members) {
      list.push_back(json{{"entryId", m.id},
                          {"name", m.name},
                          {"address", m.address},
                          {"selected", m.selected},
                          {"lastUpdate", m.lastUpdate ? json(*m.lastUpdate) : json(nullptr)}});
    }
    PrintJson(out, json{{"folder", path},
                        {"entryId", id},
                        {"updateable", flag ? json(*flag) : json(nullptr)},
                        {"recipients", list}});
    return;
  }
  out << "Folder:     " << PrintableLine(path) << "\n";
  out << "Updateable: " << UpdateableText(flag) << "\n";
  if (members.empty()) {
    out << "No recipients\n";
    return;
  }
  for (const auto& m : members) {
    out << m.id << "  " << PrintableLine(m.name);
    if (!m.address.empty()) out << " <" << PrintableLine(m.address) << ">";
    out << "  " << (m.selected ? "selected" : "not selected") << "  last update "
        << (m.lastUpdate ? PrintableLine(*m.lastUpdate) : std::string("never")) << "\n";
  }
}

int UpdateFolder(ProfileSession& s, std::ostream& out, const std::string& folderPath) {
  auto& ctx = Addin(s);
  auto folder = s.AsPerson([&] { return ResolveFolder(*s.Session(), folderPath); });
  const std::string path = s.AsPerson([&] { return FullPath(*folder); });
  const std::string id = s.AsPerson([&] { return folder->EntryID(); });
  const auto members = Members(ctx, id);
  if (std::none_of(members.begin(), members.end(), [](const Member& m) { return m.selected; })) {
    out << PrintableLine(path) << " has no recipients (choose them with plexisync share)\n";
  }
  SendWatch watch(s, ctx, {id});
  out << "Pressing \"Update\" on " << PrintableLine(path) << "\n";
  plexisync::Update_Click(ctx, folder);
  return watch.Report(out);
}

int UpdateAll(ProfileSession& s, std::ostream& out) {
  auto& ctx = Addin(s);
  const auto ids = ctx.reg().GetAllValueNames(ctx.RegKey + plexisync::kUpdateableKey);
  SendWatch watch(s, ctx, ids);
  out << "Pressing \"Update All\"\n";
  plexisync::Update_All_Click(ctx, true);
  return watch.Report(out);
}

}  // namespace cli
