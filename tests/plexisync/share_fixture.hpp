#pragma once
// Helpers for the tests of the share wizard and the send commands: contacts
// and folders made as the person makes them, recipients written into the
// sharing database, the wizard's lists as text, and the update mails that
// reached the post office.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addin_fixture.hpp"
#include "host/object_model.hpp"
#include "host/transport/post_office.hpp"
#include "platform/ui/controls.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/dialogs/main_form.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync::testing {

class ShareTest : public AddinTest {
 protected:
  // A started add-in of a returning user, with settings stored beforehand.
  AddinMachine& Started(const std::vector<std::pair<std::string, std::string>>& settings = {},
                        const std::string& name = "machine") {
    MachineOptions options;
    options.name = name;
    auto& m = Machine(options);
    for (const auto& [k, v] : settings) m.Reg().SetValue(ProfileKeyPath(), k, v);
    m.StartReturning();
    return m;
  }

  static std::shared_ptr<host::Folder> Contacts(AddinMachine& m) { return m.DefaultFolder(host::kFolderContacts); }

  // A saved contact, made by the person (no security question).
  static std::shared_ptr<host::ContactItem> NewContact(AddinMachine& m, const std::shared_ptr<host::Folder>& folder,
                                                       const std::string& fullName, const std::string& email = {}) {
    host::PersonScope person(*m.app);
    auto c = std::dynamic_pointer_cast<host::ContactItem>(folder->Items()->Add("IPM.Contact"));
    c->SetFullName(fullName);
    if (!email.empty()) c->SetEmail1Address(email);
    c->Save();
    return c;
  }
  static std::shared_ptr<host::Folder> NewFolder(const std::shared_ptr<host::Folder>& parent, const std::string& name,
                                                 int type = host::kFolderTypeContacts) {
    return parent->Folders()->Add(name, type);
  }

  // Key paths below the profile key.
  static std::string Key(const std::string& below) { return ProfileKeyPath() + below; }
  static std::string Updateable() { return Key(kUpdateableKey); }
  static std::string RecipientKey(const std::string& folderId, const std::string& recipientId) {
    return Key(folderId + "\\" + recipientId);
  }

  // A recipient entry as the sharing database holds it.
  static void StoreRecipient(AddinMachine& m, const std::string& folderId, const std::shared_ptr<host::ContactItem>& c,
                             const std::string& email, bool enabled = true,
                             const std::string& lastUpdate = kNeverUpdated) {
    StoreRecipient(m, folderId, c->EntryID(), c->FullName(), email, enabled, lastUpdate);
  }
  static void StoreRecipient(AddinMachine& m, const std::string& folderId, const std::string& id,
                             const std::string& name, const std::string& email, bool enabled = true,
                             const std::string& lastUpdate = kNeverUpdated) {
    const std::string key = RecipientKey(folderId, id);
    m.Reg().SetValue(key, "Bool", std::string(enabled ? "1" : "0"), 1);
    m.Reg().SetValue(key, "Name", name, 1);
    m.Reg().SetValue(key, "eMail", email, 1);
    m.Reg().SetValue(key, "LastUpdate", lastUpdate, 1);
  }
  static std::string Bool(AddinMachine& m, const std::string& folderId, const std::string& id) {
    return m.Reg().GetString(RecipientKey(folderId, id), "Bool", "<absent>");
  }
  static std::string UpdateableValue(AddinMachine& m, const std::string& folderId) {
    return m.Reg().GetString(Updateable(), folderId, "<absent>");
  }

  // An id that named a contact once and no longer does.
  static std::string VanishedContactId(AddinMachine& m) {
    auto c = NewContact(m, Contacts(m), "Gone");
    const std::string id = c->EntryID();
    host::PersonScope person(*m.app);
    c->Delete();
    c->Delete();
    return id;
  }

  static MainForm& Wizard(AddinMachine& m) { return m.ctx->Form<MainForm>(); }

  // A list view's entries, one "text|tool tip|tag|last update" each.
  static std::vector<std::string> Entries(const platform::ListView& list) {
    std::vector<std::string> out;
    for (const auto& e : list.Items()) out.push_back(e.text + "|" + e.toolTip + "|" + e.tag + "|" + e.SubItem(1));
    return out;
  }
  static std::string Entry(const std::shared_ptr<host::ContactItem>& c, const std::string& email,
                           const std::string& date = {}) {
    return c->FullName() + "|" + email + "|" + c->EntryID() + "|" + date;
  }
  static std::vector<std::string> Tags(const platform::ListView& list) {
    std::vector<std::string> out;
    for (const auto& e : list.Items()) out.push_back(e.tag);
    return out;
  }

  // The update mails (by subject) that reached the address's mailbox since
  // the last look; the mailbox is emptied.
  std::vector<host::MailMessage> UpdateMailsTo(const std::string& address) {
    std::vector<host::MailMessage> out;
    for (auto& mail : host::PostOfficeTransport(PostOffice()).TakeAll(address)) {
      if (mail.subject == kUpdateMailSubject) out.push_back(std::move(mail));
    }
    return out;
  }
  // The text of a mail's "body.pxs" attachment; "" when it has none.
  static std::string BodyOf(const host::MailMessage& mail) {
    for (const auto& a : mail.attachments) {
      if (a.name == "body.pxs") return std::string(a.data.begin(), a.data.end());
    }
    return {};
  }
};

}  // namespace plexisync::testing
