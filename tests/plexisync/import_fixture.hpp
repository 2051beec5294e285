#pragma once
// A test bed for applying arrived contacts: the receiving machine with its
// folder "Friends" (the local copy of a shared folder), local contacts mapped
// to CorrIDs, contact records made from real contacts of a scratch folder
// "Source", and the four-answer question answered from a script.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/dialogs/klausimas.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "update_mail_fixture.hpp"

namespace plexisync::testing {

// A 48-character CorrID that starts with the tag.
inline std::string CorrId(const std::string& tag) {
  std::string id = tag;
  id.resize(48, '0');
  return id;
}

class ImportTest : public UpdateMailTest {
 protected:
  // Give each receiver of one test its own machine name.
  AddinMachine& Receiver(const std::string& machineName = "receiver") {
    auto& m = Owner("Friends", machineName);
    source_ = NewFolder("Source");
    return m;
  }

  // A local contact of "Friends" that stands for the CorrID and was part of
  // the last send.
  std::shared_ptr<host::ContactItem> Local(const std::string& name, const std::string& corrId,
                                           const std::string& body = "", const std::string& jobTitle = "old") {
    auto c = AddContact(name, body);
    Touch(c, jobTitle);
    Set_CorrID(*M().ctx, FolderId(), c->EntryID(), corrId);
    M().Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
    return c;
  }

  // The record of a contact named `name` with that job title and body, as
  // the sender writes it, its "LastModified: " line carrying `lastModified`
  // instead. `withBody` false leaves the body block out.
  std::string Record(const std::string& name, const std::string& corrId, const std::string& lastModified,
                     const std::string& jobTitle = "new", const std::string& body = "", bool withBody = true) {
    auto c = AddContact(name, body, source_);
    Touch(c, jobTitle);
    std::string text = ContactToText(*M().ctx, c, corrId, !withBody);
    const std::string tag = kLastModifiedTag;
    const auto at = text.find(tag);
    EXPECT_NE(at, std::string::npos);
    const auto end = text.find("\r\n", at);
    text.replace(at + tag.size(), end - at - tag.size(), lastModified);
    return text;
  }

  // A reader on "Friends" for a sender last updated at `lastUpdate`.
  std::unique_ptr<CReceiveMail> Reader(const std::string& text, const platform::DateTime& lastUpdate) {
    auto r = std::make_unique<CReceiveMail>(*M().ctx);
    r->Text = text;
    r->LocalFolder = Folder();
    r->Sender = std::make_shared<CSender>();
    r->Sender->Name = "Sender";
    r->Sender->Email = "sender@example.org";
    r->Sender->LastUpdate = lastUpdate;
    return r;
  }

  // Queues the answer to the next four-answer question; its text is added
  // to Asked().
  void Answer(int answer) {
    M().user.ExpectForm("Klausimas", [this, answer](platform::Form& f) {
      auto& k = dynamic_cast<Klausimas&>(f);
      asked_.push_back(k.Praneshimas.Caption());
      platform::Button* buttons[] = {&k.Command1, &k.Command2, &k.Command3, &k.Command4};
      buttons[answer - 1]->Click();
    });
  }
  const std::vector<std::string>& Asked() const { return asked_; }

  // The contacts of the folder (Friends when none is given).
  std::vector<std::shared_ptr<host::ContactItem>> Contacts(std::shared_ptr<host::Folder> folder = nullptr) {
    std::vector<std::shared_ptr<host::ContactItem>> out;
    auto items = (folder ? folder : Folder())->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      if (auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i))) out.push_back(c);
    }
    return out;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& c : Contacts()) names.push_back(c->FullName());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::shared_ptr<host::ContactItem> Only(const std::string& name) {
    std::shared_ptr<host::ContactItem> found;
    int n = 0;
    for (const auto& c : Contacts()) {
      if (c->FullName() == name) {
        found = c;
        ++n;
      }
    }
    EXPECT_EQ(n, 1) << "contacts named " << name;
    return found;
  }
  // local id -> CorrID of the folder's identity entries.
  std::vector<std::pair<std::string, std::string>> Mapping() { return M().Reg().GetAllValueTexts(MappingKey()); }
  // The local ids mapped to the CorrID.
  std::vector<std::string> IdsOf(const std::string& corrId) {
    std::vector<std::string> ids;
    for (const auto& [id, corr] : Mapping()) {
      if (corr == corrId) ids.push_back(id);
    }
    return ids;
  }
  bool Listed(const std::string& localId) {
    const auto list = List();
    return std::find(list.begin(), list.end(), localId) != list.end();
  }
  static std::string JobTitle(const std::shared_ptr<host::ContactItem>& c) { return c->Text("JobTitle"); }

  std::shared_ptr<host::Folder> source_;
  std::vector<std::string> asked_;
};

}  // namespace plexisync::testing
