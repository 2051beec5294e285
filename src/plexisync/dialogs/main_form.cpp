#include "plexisync/dialogs/main_form.hpp"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "host/object_model.hpp"
#include "platform/datetime.hpp"
#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/core/update_buttons.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

// Folder names in the title line are cut after this many characters.
constexpr std::size_t kTitleNameLength = 30;

// The first `count` characters of a UTF-8 text, never cutting one in two.
std::string FirstCharacters(std::string_view s, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) != 0x80) {
      if (seen == count) return std::string(s.substr(0, i));
      ++seen;
    }
  }
  return std::string(s);
}

// The "Last Update On" column of a stored "LastUpdate" text: the date as
// m/d/yyyy, empty for the never-updated mark and for a text that is no date.
std::string LastUpdateColumn(const std::string& stored) {
  const auto when = StoredLastUpdate(stored);
  if (when == platform::DateTime::Parse(kNeverUpdated)) return {};
  return std::to_string(when.Month()) + "/" + std::to_string(when.Day()) + "/" + std::to_string(when.Year());
}

std::shared_ptr<host::ContactItem> AsContact(const std::shared_ptr<host::Item>& item) {
  auto contact = std::dynamic_pointer_cast<host::ContactItem>(item);
  if (!contact) throw host::HostError("The item is not a contact item");
  return contact;
}

// Keeps a progress bar visible while a load runs, and hides it however the
// load ends.
class ShownWhileLoading {
 public:
  explicit ShownWhileLoading(platform::ProgressBar& bar) : bar_(bar) { bar_.SetVisible(true); }
  ~ShownWhileLoading() { bar_.SetVisible(false); }
  ShownWhileLoading(const ShownWhileLoading&) = delete;
  ShownWhileLoading& operator=(const ShownWhileLoading&) = delete;

 private:
  platform::ProgressBar& bar_;
};

}  // namespace

MainForm::MainForm(Context& ctx)
    : Form("MainForm", kProductTitle),
      FolderName(Add<platform::Label>("FolderName")),
      LookInLabel(Add<platform::Label>("LookInLabel", "Look in:")),
      ParinkFolder(Add<platform::ComboBox>("ParinkFolder")),
      go(Add<platform::Button>("go", "Update")),
      SearchLabel(Add<platform::Label>("SearchLabel", "Search:")),
      FindBox(Add<platform::TextBox>("FindBox")),
      SarIsh(Add<platform::ListView>("SarIsh")),
      SarI(Add<platform::ListView>("SarI")),
      Pirmyn(Add<platform::Button>("Pirmyn", ">>")),
      Atgal(Add<platform::Button>("Atgal", "<< ")),
      Naujas(Add<platform::Button>("Naujas", "New contact...")),
      Advanced(Add<platform::Button>("Advanced", "Options...")),
      SaveBut(Add<platform::Button>("SaveBut", "Save")),
      OK(Add<platform::Button>("OK", "Save && Send")),
      Cancel(Add<platform::Button>("Cancel", "Cancel")),
      ProgressBar1(Add<platform::ProgressBar>("ProgressBar1")),
      ctx_(ctx) {
  ParinkFolder.SetToolTip("Loads available contacts from the folder selected");
  for (platform::ListView* list : {&SarIsh, &SarI}) {
    list->AddColumn("Full Name");
    list->AddColumn("Last Update On");
  }
  ProgressBar1.SetVisible(false);
  for (platform::Button* b : {&Pirmyn, &Atgal, &OK, &go, &SaveBut, &Cancel}) b->SetEnabled(false);
  Cancel.SetCancel(true);

  go.onClick = [this] { go_Click(); };
  ParinkFolder.onDropDown = [this] { ParinkFolder_DropDown(); };
  Pirmyn.onClick = [this] { Pirmyn_Click(); };
  Atgal.onClick = [this] { Atgal_Click(); };
  FindBox.onChange = [this] { FindBox_Change(); };
  Naujas.onClick = [this] { Naujas_Click(); };
  Advanced.onClick = [this] { Advanced_Click(); };
  SaveBut.onClick = [this] { SaveBut_Click(); };
  OK.onClick = [this] { OK_Click(); };
  Cancel.onClick = [this] { Cancel_Click(); };
}

MainForm::~MainForm() = default;

void MainForm::OnTerminate() {
  // An unloaded wizard holds on to nothing of the client.
  ShareFolder.reset();
  SourceFolder_.reset();
}

void MainForm::Paleisk() {
  Protect(ctx_, "MainForm_Load", [&] {
    SetUp();
    Load_Checkboxes(ctx_);
    Show(false);
    LoadFolders();
    SourceFolder_ = ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts);
    LoadList1();
    LoadList2();
    FindBox.SetFocus();
    // Until "Update" picks a folder, a new contact goes to the default
    // contacts folder, which is the one listed.
    SourceFolder_.reset();
    Cancel.SetEnabled(true);
    SaveBut.SetEnabled(true);
  });
}

void MainForm::SetUp() {
  Protect(ctx_, "MainForm_SetUp", [&] {
    for (platform::Button* b : {&Pirmyn, &Atgal, &OK, &go, &SaveBut, &Cancel}) b->SetEnabled(false);
    FindBox.SetText("");
    ParinkFolder.Clear();
    SarIsh.Clear();
    SarI.Clear();
    if (!ShareFolder) throw host::HostError("Object variable not set: no folder to share");
    Ensure_Key(ctx_, ShareFolder->EntryID());
    const std::string name = ShareFolder->Name();
    if (platform::CharacterCount(name) <= kTitleNameLength) {
      FolderName.SetCaption("Share " + name + " folder");
    } else {
      FolderName.SetCaption("Share " + FirstCharacters(name, kTitleNameLength) + "... folder");
    }
    FolderList_.clear();
  });
}

void MainForm::LoadFolders() {
  Protect(ctx_, "MainForm_LoadFolders", [&] {
    auto contacts = ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts);
    const std::string name = contacts->Name();
    ParinkFolder.AddItem(name + "  ");
    FolderList_.push_back(contacts->EntryID() + " " + name);
    ParinkFolder.SetListIndex(0);

    // Up to the top folder of the store, whose parent is the session. The
    // session is recognised by its kind, not by its default value "Mapi",
    // which a folder named so would give as well.
    std::shared_ptr<host::Folder> root = contacts;
    for (;;) {
      auto parent = root->Parent();
      if (!parent) throw host::HostError("Object variable not set: a folder without a parent");
      if (std::dynamic_pointer_cast<host::NameSpace>(parent)) break;
      root = std::dynamic_pointer_cast<host::Folder>(parent);
      if (!root) throw host::HostError("The parent of a folder is neither a folder nor the session");
    }
    GetFolder(root);
  });
}

// Lists the contacts folders below `top` in the order a person reads the
// folder tree: each folder before its subfolders, subfolders in their order.
// The walk keeps the folders it is inside on a stack of its own, so a tree of
// any depth takes the same room on the call stack. A failure inside a folder
// is logged and ends the listing of that folder; the walk goes on with the
// next subfolder of its parent.
void MainForm::GetFolder(const std::shared_ptr<host::Folder>& top) {
  struct Inside {
    std::shared_ptr<host::Folders> subfolders;
    int count = 0;
    int next = 1;  // position of the next subfolder to list
  };
  std::vector<Inside> inside;
  const auto enter = [&](const std::shared_ptr<host::Folder>& folder) {
    Protect(ctx_, "MainForm_GetFolder", [&] {
      auto subfolders = folder->Folders();
      const int count = subfolders->Count();
      inside.push_back(Inside{std::move(subfolders), count, 1});
    });
  };
  std::string defaultName;
  const bool named = ProtectOr(ctx_, "MainForm_GetFolder", false, [&] {
    defaultName = ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts)->Name();
    return true;
  });
  if (!named) return;
  enter(top);
  while (!inside.empty()) {
    std::shared_ptr<host::Folder> below;  // the folder listed now, when it has subfolders
    const bool listed = ProtectOr(ctx_, "MainForm_GetFolder", false, [&] {
      Inside& at = inside.back();
      if (at.next > at.count) {
        inside.pop_back();
        return true;
      }
      auto sub = at.subfolders->Item(at.next++);
      const std::string name = sub->Name();
      if (sub->DefaultItemType() == host::kContactItem && name != defaultName) {
        ParinkFolder.AddItem(name + "  ");
        // FolderList follows the combo: the entry goes where the combo put
        // the name, so that list index n names FolderList entry n.
        const int index = ParinkFolder.NewIndex();
        if (index < 0 || static_cast<std::size_t>(index) > FolderList_.size()) {
          throw host::HostError("The folder list lost its place");
        }
        FolderList_.insert(FolderList_.begin() + index, sub->EntryID() + " " + name);
      }
      if (sub->Folders()->Count() > 0) below = std::move(sub);
      return true;
    });
    if (!listed) {
      inside.pop_back();
      continue;
    }
    if (below) enter(below);
  }
}

void MainForm::ParinkFolder_DropDown() { go.SetEnabled(true); }

void MainForm::go_Click() {
  Protect(ctx_, "MainForm_GetFolder", [&] {
    const int index = ParinkFolder.ListIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= FolderList_.size()) {
      throw host::HostError("No folder is selected in the list");
    }
    const std::string id = platform::Left(FolderList_[static_cast<std::size_t>(index)], 48);
    SourceFolder_ = ctx_.app().Session()->GetFolderFromID(id);
    LoadList1();
    go.SetEnabled(false);
  });
}

void MainForm::LoadList1() {
  Protect(ctx_, "MainForm_LoadList1", [&] {
    if (!SourceFolder_) return;
    SarIsh.Clear();
    if (!ShareFolder) throw host::HostError("Object variable not set: no folder to share");
    const std::string shareId = ShareFolder->EntryID();
    auto items = ContactItems(SourceFolder_);
    const int count = items->Count();
    // The contacts as they are now: the loop yields to the client, whose
    // events may add or remove contacts of the (live) collection meanwhile.
    std::vector<std::shared_ptr<host::ContactItem>> contacts;
    contacts.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) contacts.push_back(AsContact(items->Item(i)));
    if (!contacts.empty()) {
      ShownWhileLoading shown(ProgressBar1);
      ProgressBar1.SetMax(static_cast<int>(contacts.size()));
      ProgressBar1.SetValue(0);
      auto safe = ctx_.app().CreateSafeContactItem();
      CRegistry& reg = ctx_.reg();
      for (const auto& contact : contacts) {
        safe->SetItem(contact);
        platform::ListItem entry;
        entry.text = contact->FullName();
        entry.toolTip = safe->Email1Address();
        entry.tag = contact->EntryID();
        entry.SetSubItem(1, LastUpdateColumn(
                                reg.GetString(RecipientKeyPath(ctx_, shareId, entry.tag), "LastUpdate", kNeverUpdated)));
        SarIsh.Add(std::move(entry));
        if (ProgressBar1.Value() < ProgressBar1.Max()) ProgressBar1.SetValue(ProgressBar1.Value() + 1);
        ctx_.DoEvents();
      }
    }
    Pirmyn.SetEnabled(!contacts.empty());
  });
}

void MainForm::LoadList2() {
  Protect(ctx_, "MainForm_LoadList2", [&] {
    SarI.Clear();
    if (!ShareFolder) throw host::HostError("Object variable not set: no folder to share");
    const std::string shareId = ShareFolder->EntryID();
    CRegistry& reg = ctx_.reg();
    const std::string folderKey = FolderKeyPath(ctx_, shareId);
    if (reg.KeyExists(folderKey)) {
      auto session = ctx_.app().Session();
      for (const auto& subkey : reg.GetAllSubKeys(folderKey)) {
        if (IsFolderDataKey(subkey)) continue;
        const std::string key = RecipientKeyPath(ctx_, shareId, subkey);
        if (reg.GetString(key, "Bool", "0") != "1") continue;
        platform::ListItem entry;
        try {
          auto contact = std::dynamic_pointer_cast<host::ContactItem>(session->GetItemFromID(subkey));
          // A recipient whose contact is gone is left out, and the next
          // save disables it.
          if (!contact) continue;
          entry.text = contact->FullName();
        } catch (const host::NotFoundError&) {
          continue;
        } catch (const host::HostError& e) {
          // Out of reach (its store is not open, the client refused), not
          // gone: the recipient stays chosen, under the name recorded for it,
          // so that a save does not drop it.
          entry.text = reg.GetString(key, "Name", "");
          Append_error_record(ctx_, std::string(e.what()) + " (recipient " + subkey + " kept)",
                              "MainForm_LoadList2", "");
        }
        entry.toolTip = reg.GetString(key, "eMail", "");
        entry.tag = subkey;
        entry.SetSubItem(1, LastUpdateColumn(reg.GetString(key, "LastUpdate", kNeverUpdated)));
        SarI.Add(std::move(entry));
      }
    }
    Atgal.SetEnabled(SarI.Count() > 0);
    OK.SetEnabled(SarI.Count() > 0);
  });
}

void MainForm::Pirmyn_Click() {
  Protect(ctx_, "MainForm_ForwardClick", [&] {
    const int selected = SarIsh.SelectedIndex();
    if (selected < 0) return;
    const platform::ListItem source = SarIsh.Item(static_cast<std::size_t>(selected));
    // A contact is one entry id: it is among the recipients when an entry
    // carries its tag, whatever other contacts share its name.
    bool present = false;
    for (const auto& entry : SarI.Items()) {
      if (entry.tag == source.tag) {
        present = true;
        break;
      }
    }
    if (!present) {
      platform::ListItem copy;
      copy.text = source.text;
      copy.toolTip = source.toolTip;
      copy.tag = source.tag;
      copy.SetSubItem(1, source.SubItem(1));
      SarI.Add(std::move(copy));
    }
    if (static_cast<std::size_t>(selected) + 1 < SarIsh.Count()) SarIsh.Select(selected + 1);
    SarIsh.EnsureVisible(static_cast<std::size_t>(SarIsh.SelectedIndex()));
    if (SarI.SelectedIndex() >= 0) SarI.EnsureVisible(static_cast<std::size_t>(SarI.SelectedIndex()));
    OK.SetEnabled(SarI.Count() > 0);
    Atgal.SetEnabled(SarI.Count() > 0);
  });
}

void MainForm::Atgal_Click() {
  Protect(ctx_, "MainForm_BackwardClick", [&] {
    const int selected = SarI.SelectedIndex();
    if (selected >= 0) SarI.Remove(static_cast<std::size_t>(selected));
    if (SarI.Count() == 0) {
      Atgal.SetEnabled(false);
      OK.SetEnabled(false);
    }
  });
}

void MainForm::FindBox_Change() {
  Protect(ctx_, "MainForm_Findbox", [&] {
    const std::string& typed = FindBox.Text();
    if (typed.empty()) return;
    const int found = SarIsh.FindItem(typed, true);
    if (found < 0) return;
    SarIsh.EnsureVisible(static_cast<std::size_t>(found));
    SarIsh.Select(found);
  });
}

void MainForm::Naujas_Click() {
  Protect(ctx_, "MainForm_NewClick", [&] {
    if (!ShareFolder) throw host::HostError("Object variable not set: no folder to share");
    auto folder = SourceFolder_ ? SourceFolder_ : ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts);
    auto contact = AsContact(folder->Items()->Add("IPM.Contact"));
    contact->Display(true);
    ctx_.DoEvents();
    const std::string id = contact->EntryID();
    if (!id.empty()) {
      auto safe = ctx_.app().CreateSafeContactItem();
      safe->SetItem(contact);
      platform::ListItem entry;
      entry.text = contact->FullName();
      entry.toolTip = safe->Email1Address();
      entry.tag = id;
      SarI.Add(entry);
      SarIsh.Add(entry);
      Update_Entry(ctx_, ShareFolder->EntryID(), id, entry.text, true, entry.toolTip);
    }
    Pirmyn.SetEnabled(SarIsh.Count() > 0);
    Atgal.SetEnabled(SarI.Count() > 0);
    OK.SetEnabled(SarI.Count() > 0);
  });
}

void MainForm::SaveChanges() {
  Protect(ctx_, "MainForm_SaveChanges", [&] {
    if (!ShareFolder) throw host::HostError("Object variable not set: no folder to share");
    const std::string shareId = ShareFolder->EntryID();
    CRegistry& reg = ctx_.reg();
    // Every recipient is switched off, then those in the list are switched
    // on again through Update_Entry, which refuses the user's own
    // addresses: a recipient whose address has become one of them since it
    // was chosen ends disabled. It is all one write of the key store, so a
    // failure half-way leaves every recipient as it was.
    reg.Transact([&] {
      for (const auto& subkey : reg.GetAllSubKeys(FolderKeyPath(ctx_, shareId))) {
        if (IsFolderDataKey(subkey)) continue;
        reg.SetValue(RecipientKeyPath(ctx_, shareId, subkey), "Bool", std::string("0"), 1);
      }
      for (const auto& entry : SarI.Items()) {
        Update_Entry(ctx_, shareId, entry.tag, entry.text, true, entry.toolTip);
        // Update_Entry logs a failure rather than letting it out: a chosen
        // recipient it left switched off undoes the whole save.
        if (!Is_MyMail(ctx_, entry.toolTip) &&
            reg.GetString(RecipientKeyPath(ctx_, shareId, entry.tag), "Bool", "0") != "1") {
          throw host::HostError("The recipient " + entry.text + " could not be switched on");
        }
      }
    });
    Hide();
  });
}

void MainForm::SaveBut_Click() {
  Protect(ctx_, "MainForm_SaveClick", [&] {
    SaveChanges();
    if (ShareFolder) If_Folder_Disabled(ctx_, ShareFolder->EntryID());
    Refresh_Update_Buttons(ctx_);
    ShareFolder.reset();
  });
}

void MainForm::OK_Click() {
  Protect(ctx_, "MainForm_SendClick", [&] {
    SaveChanges();
    auto folder = ShareFolder;
    if (!folder) throw host::HostError("Object variable not set: no folder to share");
    Update_Folder(ctx_, folder, true);
    ctx_.reg().SetValue(ctx_.RegKey + kUpdateableKey, folder->EntryID(), std::string("1"), 1);
    Refresh_Update_Buttons(ctx_);
    ShareFolder.reset();
  });
}

void MainForm::Cancel_Click() {
  Protect(ctx_, "MainForm_CancelClick", [&] {
    Hide();
    ShareFolder.reset();
  });
}

void MainForm::Advanced_Click() {
  Protect(ctx_, "MainForm_OptionsClick", [&] {
    Load_Checkboxes(ctx_);
    ctx_.Form<AdvSettings>().Show(true);
  });
}

}  // namespace plexisync
