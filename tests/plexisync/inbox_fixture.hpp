#pragma once
// A test bed for the receiving side: a reader's machine whose Inbox gets
// update mails through the shared post office, either written here from a
// text (any sender, any attachment) or sent by an owner's add-in; helpers to
// look at the reader's folders, contacts and members.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/post_office.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "share_fixture.hpp"

namespace plexisync::testing {

inline constexpr const char* kLineEnd = "\r\n";

class InboxTest : public ShareTest {
 protected:
  // A started machine of a returning user who never updates on send/receive.
  AddinMachine& Person(const std::string& name, const std::string& display = "Reader Rose") {
    MachineOptions options;
    options.name = name;
    options.displayName = display;
    options.address = name + "@example.org";
    auto& m = Machine(options);
    m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
    m.StartReturning();
    return m;
  }

  // A mail with that text as its attachment (named `attachment`), from the
  // sender to the machine's address, waiting in the post office.
  void Post(AddinMachine& to, const std::string& text, const std::string& fromName = "Olive Owner",
            const std::string& fromAddress = "olive@example.org", const std::string& subject = kUpdateMailSubject,
            const std::string& attachment = kBodyFile) {
    host::MailMessage message;
    message.from = {fromName, fromAddress};
    message.bcc = {{"", to.profile.Address()}};
    message.subject = subject;
    message.attachments.push_back({attachment, std::vector<std::uint8_t>(text.begin(), text.end()), "text/plain"});
    host::PostOfficeTransport(PostOffice()).Send(message, {to.profile.Address()});
  }

  // The client's send/receive; the arrivals reach the add-in.
  static void SendReceive(AddinMachine& m) {
    {
      host::PersonScope person(*m.app);
      m.app->Session()->SyncObjects()->Item(1)->Start();
    }
    m.DoEvents();
  }

  static int CountIn(AddinMachine& m, int defaultFolder) {
    host::PersonScope person(*m.app);
    return m.DefaultFolder(defaultFolder)->Items()->Count();
  }

  // The subfolder of the default Contacts folder with that name, or nullptr.
  static std::shared_ptr<host::Folder> ContactsSub(AddinMachine& m, const std::string& name) {
    host::PersonScope person(*m.app);
    auto folders = Contacts(m)->Folders();
    for (int i = 1; i <= folders->Count(); ++i) {
      if (folders->Item(i)->Name() == name) return folders->Item(i);
    }
    return nullptr;
  }

  // The path line of a subfolder of the default Contacts folder (which
  // need not exist).
  static std::string PathOf(AddinMachine& m, const std::string& name) {
    std::string path = Get_Path(*m.ctx, Contacts(m));
    path.resize(path.size() - std::string(kEndOfPath).size());
    return path + name + kPathSeparator + kEndOfPath + kLineEnd;
  }

  static std::string RecipientsBlock(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string s = std::string(kStartOfRecipients) + kLineEnd;
    for (const auto& [address, name] : entries) s += std::string(kStartOfRec) + address + kMidOfRec + name + kEndOfRec + kLineEnd;
    return s + kEndOfRecipients + kLineEnd;
  }

  // The contacts of a folder whose Email1Address is `address` (read as the
  // person reads them).
  static std::vector<std::shared_ptr<host::ContactItem>> WithAddress(AddinMachine& m,
                                                                     const std::shared_ptr<host::Folder>& folder,
                                                                     const std::string& address) {
    std::vector<std::shared_ptr<host::ContactItem>> out;
    host::PersonScope person(*m.app);
    auto items = folder->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (c && c->Email1Address() == address) out.push_back(c);
    }
    return out;
  }

  // "address=Bool" of every member key of the folder, in key order.
  static std::vector<std::string> Members(AddinMachine& m, const std::string& folderId) {
    std::vector<std::string> out;
    const std::string key = ProfileKeyPath() + folderId;
    for (const auto& sub : m.Reg().GetAllSubKeys(key)) {
      if (IsFolderDataKey(sub)) continue;
      out.push_back(m.Reg().GetString(key + "\\" + sub, "eMail", "?") + "=" +
                    m.Reg().GetString(key + "\\" + sub, "Bool", "?"));
    }
    return out;
  }
};

}  // namespace plexisync::testing
