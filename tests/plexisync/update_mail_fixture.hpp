#pragma once
// A test bed for sending a shared folder: one owner machine with a contacts
// folder "Friends", its recipients and contacts, and the send of the folder
// as the send command runs it (compose, send, export, stamp).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addin_fixture.hpp"
#include "host/object_model.hpp"
#include "platform/datetime.hpp"
#include "platform/textfile.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync::testing {

class UpdateMailTest : public AddinTest {
 protected:
  // The owner's machine, started, with the folder "Friends" under Contacts.
  AddinMachine& Owner(const std::string& folderName = "Friends", const std::string& machineName = "owner") {
    MachineOptions options;
    options.name = machineName;
    auto& m = Machine(options);
    m.StartReturning();
    m_ = &m;
    folder_ = NewFolder(folderName);
    return m;
  }
  AddinMachine& M() { return *m_; }
  const std::shared_ptr<host::Folder>& Folder() const { return folder_; }
  std::string FolderId() const { return folder_->EntryID(); }

  std::shared_ptr<host::Folder> NewFolder(const std::string& name) {
    host::PersonScope person(*m_->app);
    return m_->DefaultFolder(host::kFolderContacts)->Folders()->Add(name, host::kFolderTypeContacts);
  }

  // A saved contact made by the person; the clock moves on by a second, so
  // that every contact has its own moment.
  std::shared_ptr<host::ContactItem> AddContact(const std::string& fullName, const std::string& body = "",
                                                std::shared_ptr<host::Folder> folder = nullptr) {
    host::PersonScope person(*m_->app);
    auto item = std::dynamic_pointer_cast<host::ContactItem>((folder ? folder : folder_)->Items()->Add(host::kContactItem));
    item->SetFullName(fullName);
    if (!body.empty()) item->SetBody(body);
    item->Save();
    Clock().Advance(1);
    return item;
  }
  void Touch(const std::shared_ptr<host::ContactItem>& contact, const std::string& jobTitle) {
    host::PersonScope person(*m_->app);
    contact->SetProperty("JobTitle", jobTitle);
    contact->Save();
    Clock().Advance(1);
  }

  // An enabled recipient of the folder: a contact item in the default
  // Contacts folder and its key. `name` nullopt leaves "Name" out,
  // `lastUpdate` nullopt leaves "LastUpdate" out, an empty text keeps the
  // value the entry got when it was made.
  std::string AddRecipient(const std::optional<std::string>& name, const std::string& email,
                           const std::optional<std::string>& lastUpdate = std::string()) {
    auto contact = AddContact(name.value_or("nameless"), "", m_->DefaultFolder(host::kFolderContacts));
    const std::string id = contact->EntryID();
    Update_Entry(*m_->ctx, FolderId(), id, name.value_or(""), true, email);
    const std::string key = RecipientKey(id);
    if (!name) {
      EXPECT_TRUE(m_->Reg().DeleteValue(key, "Name"));
    }
    if (!lastUpdate) {
      EXPECT_TRUE(m_->Reg().DeleteValue(key, "LastUpdate"));
    } else if (!lastUpdate->empty()) {
      m_->Reg().SetValue(key, "LastUpdate", *lastUpdate, 1);
    }
    return id;
  }
  std::string RecipientKey(const std::string& id) const { return ProfileKeyPath() + FolderId() + "\\" + id; }
  std::string LastUpdate(const std::string& id) { return m_->Reg().GetString(RecipientKey(id), "LastUpdate", "<none>"); }

  void Setting(const std::string& name, const std::string& value) {
    m_->Reg().SetValue(ProfileKeyPath(), name, value, 1);
  }
  std::string ListKey() const { return ProfileKeyPath() + FolderId() + "\\List"; }
  std::vector<std::string> List() { return m_->Reg().GetAllValueNames(ListKey()); }
  std::string MappingKey() const { return ProfileKeyPath() + FolderId() + "\\mapping"; }

  // The text of the mail's one attachment, which must be "body.pxs".
  std::string Body(const std::shared_ptr<host::MailItem>& mail) {
    EXPECT_TRUE(mail);
    if (!mail) return {};
    auto attachments = mail->Attachments();
    EXPECT_EQ(attachments->Count(), 1);
    if (attachments->Count() != 1) return {};
    EXPECT_EQ(attachments->Item(1)->FileName(), kBodyFile);
    const auto path = Scratch() / "attachment.txt";
    attachments->Item(1)->SaveAsFile(path.string());
    return platform::ReadTextFile(path);
  }

  // The send of the folder as the send command runs it. `sendOk` false makes
  // the send of the mail proper fail (its recipients are then not stamped).
  struct SendResult {
    std::shared_ptr<host::MailItem> mail;
    std::shared_ptr<host::MailItem> importMail;
    std::string body;
    std::string importBody;
    bool sent = false;
  };
  SendResult Send(bool pb = false, bool sendOk = true) {
    CUpdateMail u(*m_->ctx);
    u.PB = pb;
    SendResult r;
    r.mail = u.CreateUpdateMail(folder_);
    r.importMail = u.ImportMail();
    if (r.mail) r.body = Body(r.mail);
    if (r.importMail) r.importBody = Body(r.importMail);
    if (r.mail) {
      r.sent = sendOk && Safe_Send(*m_->ctx, r.mail);
      if (!r.sent) u.MailNotSent();
    }
    u.ExportToFile();
    u.SetLastUpdates();
    return r;
  }

  static platform::DateTime Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return platform::DateTime::FromParts(y, mo, d, h, mi, s);
  }

  AddinMachine* m_ = nullptr;
  std::shared_ptr<host::Folder> folder_;
};

inline std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace plexisync::testing
