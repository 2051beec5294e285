#include <gtest/gtest.h>

#include <cctype>
#include <fstream>

#include "host_fixture.hpp"
#include "platform/sqlite.hpp"
#include "platform/text.hpp"
#include "platform/textfile.hpp"

namespace host::testing {
namespace {

using ObjectModelTest = HostTest;

TEST_F(ObjectModelTest, ApplicationBasics) {
  EXPECT_EQ(app_->Version(), "10.0.6626");
  EXPECT_EQ(ns_->DefaultValue(), "Mapi");
  auto mail = app_->CreateMailItem();
  EXPECT_EQ(mail->MessageClass(), "IPM.Note");
  EXPECT_EQ(mail->EntryID(), "");
  EXPECT_FALSE(mail->Submitted());
  auto item = app_->CreateItem(0);
  EXPECT_TRUE(item->IsMail());
  EXPECT_TRUE(app_->CreateItem(2)->IsContact());
  EXPECT_THROW(app_->CreateItem(7), HostError);
  ASSERT_TRUE(app_->ActiveExplorer());
  EXPECT_EQ(app_->ActiveExplorer()->CurrentFolder()->Name(), "Inbox");
  EXPECT_EQ(app_->Explorers()->Count(), 1);
}

TEST_F(ObjectModelTest, FoldersAddFindAndWalkUpToTheSession) {
  auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  EXPECT_EQ(team->DefaultItemType(), 2);
  auto mail = Contacts()->Folders()->Add("Notes", kFolderTypeMail);
  EXPECT_EQ(mail->DefaultItemType(), 0);
  EXPECT_EQ(Contacts()->Folders()->Add("Other", kFolderTypeMailAlt)->DefaultItemType(), 0);
  EXPECT_THROW(Contacts()->Folders()->Add("team", kFolderTypeContacts), HostError);
  EXPECT_THROW(Contacts()->Folders()->Add("Bad", 99), HostError);
  EXPECT_THROW(Contacts()->Folders()->Add("", kFolderTypeContacts), HostError);
  EXPECT_THROW(ns_->Folders()->Add("Top", kFolderTypeContacts), HostError);
  auto subs = Contacts()->Folders();
  EXPECT_EQ(subs->Count(), 3);
  EXPECT_EQ(subs->Item("TEAM")->EntryID(), team->EntryID());
  EXPECT_THROW(subs->Item("Nobody"), HostError);
  EXPECT_THROW(subs->Item(0), HostError);
  EXPECT_THROW(subs->Item(4), HostError);
  EXPECT_EQ(subs->GetLast()->Name(), "Other");
  EXPECT_EQ(subs->GetNext(), nullptr);

  // The path walk of the add-in: names up to the object whose default value is "Mapi".
  std::string path;
  std::shared_ptr<Object> x = team;
  while (x->DefaultValue() != "Mapi") {
    auto f = std::dynamic_pointer_cast<Folder>(x);
    ASSERT_TRUE(f);
    path = "$/$" + f->Name() + path;
    x = f->Parent();
  }
  EXPECT_EQ(path, "$/$Personal Folders$/$Contacts$/$Team");
  EXPECT_EQ(team->FolderPath(), "Personal Folders/Contacts/Team");
}

TEST_F(ObjectModelTest, DeletingAFolderMovesItThenRemovesIt) {
  auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  auto c = NewContact(team, "Bob");
  std::string id = team->EntryID(), itemId = c->EntryID();
  team->Delete();
  auto deleted = ns_->GetDefaultFolder(kFolderDeletedItems);
  EXPECT_EQ(team->EntryID(), id);
  EXPECT_TRUE(std::dynamic_pointer_cast<Folder>(team->Parent())->IsSameAs(*deleted));
  EXPECT_EQ(deleted->Folders()->Item("Team")->Items()->Count(), 1);
  EXPECT_EQ(Contacts()->Folders()->Count(), 0);
  team->Delete();
  EXPECT_THROW(ns_->GetFolderFromID(id), HostError);
  EXPECT_THROW(ns_->GetItemFromID(itemId), HostError);
  EXPECT_EQ(deleted->Folders()->Count(), 0);
  for (int n : {3, 4, 5, 6, 10}) EXPECT_THROW(ns_->GetDefaultFolder(n)->Delete(), HostError) << n;
  EXPECT_THROW(ns_->Folders()->Item(1)->Delete(), HostError);
}

TEST_F(ObjectModelTest, RenamingAFolderRefusesDuplicates) {
  auto a = Contacts()->Folders()->Add("A", kFolderTypeContacts);
  Contacts()->Folders()->Add("B", kFolderTypeContacts);
  a->SetName("C");
  EXPECT_EQ(a->DefaultValue(), "C");
  EXPECT_THROW(a->SetName("b"), HostError);
  EXPECT_THROW(a->SetName(""), HostError);
}

TEST_F(ObjectModelTest, NewContactShowsTheDefaults) {
  auto c = std::dynamic_pointer_cast<ContactItem>(Contacts()->Items()->Add(2));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->EntryID(), "");
  EXPECT_FALSE(c->Saved());
  PersonScope person(*app_);
  for (const auto& def : ContactSchema().Defs()) {
    if (def.name == "EntryID" || def.name == "MessageClass") continue;
    EXPECT_EQ(c->GetProperty(def.name), def.defaultValue) << def.name;
  }
  EXPECT_EQ(c->GetProperty("Anniversary"), Variant(platform::DateTime::NoDate()));
  EXPECT_EQ(c->GetProperty("Importance"), Variant(std::int32_t{1}));
  EXPECT_EQ(c->GetProperty("Gender"), Variant(std::int32_t{0}));
  EXPECT_EQ(c->GetProperty("NoAging"), Variant(false));
  EXPECT_EQ(c->Text("Journal"), "False");
  EXPECT_EQ(c->Text("Birthday"), "1/1/4501");
  EXPECT_EQ(c->MessageClass(), "IPM.Contact");
  EXPECT_EQ(c->DefaultValue(), "");
}

TEST_F(ObjectModelTest, ContactSchemaHasTheRecordFieldsInOrder) {
  const auto& defs = ContactSchema().Defs();
  ASSERT_EQ(defs.size(), 106u + 1u + 5u);
  EXPECT_EQ(defs[0].name, "Anniversary");
  EXPECT_EQ(defs[26].name, "Email1Address");
  EXPECT_EQ(defs[87].name, "RadioTelephoneNumber");
  EXPECT_EQ(defs[105].name, "YomiLastName");
  EXPECT_EQ(defs[106].name, "Body");
  int guarded = 0;
  for (const auto& d : defs) guarded += d.guarded ? 1 : 0;
  EXPECT_EQ(guarded, 8);  // the eight fields the record writer reads through the safe item
  EXPECT_TRUE(ContactSchema().Find("referredby")->guarded);
  EXPECT_FALSE(ContactSchema().Find("FullName")->guarded);
}

// Every property of both kinds of item is found by its name in any case;
// names that only look like one (same length and letters at the same
// places, a name with one letter changed, a prefix) are not.
TEST_F(ObjectModelTest, PropertyNamesAreFoundInAnyCaseAndOnlyThem) {
  for (const PropertySchema* schema : {&ContactSchema(), &MailSchema()}) {
    SCOPED_TRACE(schema->ItemKind());
    for (std::size_t i = 0; i < schema->Size(); ++i) {
      std::string name = schema->At(i).name;
      SCOPED_TRACE(name);
      EXPECT_EQ(schema->IndexOf(name), i);
      EXPECT_EQ(schema->IndexOf(platform::FoldCase(name)), i);
      std::string upper = name;
      for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      EXPECT_EQ(schema->IndexOf(upper), i);
      if (name.size() > 2) {
        std::string changed = name;
        changed[1] = changed[1] == 'q' ? 'x' : 'q';
        EXPECT_EQ(schema->IndexOf(changed), std::nullopt);
        EXPECT_EQ(schema->IndexOf(std::string_view(name).substr(0, name.size() - 1)), std::nullopt);
      }
    }
    EXPECT_EQ(schema->IndexOf(""), std::nullopt);
    EXPECT_EQ(schema->IndexOf(std::string("Full\0Name", 9)), std::nullopt);
  }
}

TEST_F(ObjectModelTest, PropertiesCheckNamesAndTypes) {
  auto c = NewContact(Contacts(), "Bob");
  EXPECT_THROW(c->GetProperty("NoSuchThing"), HostError);
  EXPECT_THROW(c->SetProperty("NoSuchThing", std::string("x")), HostError);
  EXPECT_THROW(c->SetProperty("FullName", std::int32_t{3}), HostError);
  EXPECT_THROW(c->SetProperty("Birthday", std::string("1/1/2000")), HostError);
  EXPECT_THROW(c->SetProperty("EntryID", std::string("x")), HostError);
  EXPECT_THROW(c->SetProperty("LastModificationTime", clock_.Now()), HostError);
  EXPECT_THROW(c->SetText("Gender", "many"), HostError);
  c->SetText("Birthday", "2/3/1990");
  c->SetText("Gender", "1");
  c->SetText("NoAging", "True");
  EXPECT_EQ(c->Text("Birthday"), "2/3/1990");
  EXPECT_EQ(c->Text("gender"), "1");
  EXPECT_EQ(std::get<bool>(c->GetProperty("NoAging")), true);
  EXPECT_THROW(c->SetImportance(3), HostError);
}

TEST_F(ObjectModelTest, SaveStampsTimesFromTheClock) {
  clock_.Set(platform::DateTime::FromParts(2026, 6, 15, 10, 0, 0));
  auto c = std::dynamic_pointer_cast<ContactItem>(Contacts()->Items()->Add("IPM.Contact"));
  c->SetFullName("Bob");
  c->Save();
  EXPECT_EQ(c->CreationTime(), clock_.Now());
  EXPECT_EQ(c->LastModificationTime(), clock_.Now());
  EXPECT_EQ(c->EntryID().size(), 48u);
  EXPECT_TRUE(c->Saved());
  auto created = clock_.Now();
  clock_.Advance(3600);
  c->SetCompanyName("Acme");
  EXPECT_FALSE(c->Saved());
  c->Save();
  EXPECT_EQ(c->CreationTime(), created);
  EXPECT_EQ(c->LastModificationTime(), clock_.Now());
}

TEST_F(ObjectModelTest, UnreadIsStoredAtOnceWithoutTouchingTheModificationTime) {
  auto c = NewContact(Contacts(), "Bob");
  auto modified = c->LastModificationTime();
  clock_.Advance(60);
  c->SetUnRead(true);
  auto other = ns_->GetItemFromID(c->EntryID());
  EXPECT_TRUE(other->UnRead());
  EXPECT_EQ(other->LastModificationTime(), modified);
  EXPECT_EQ(Contacts()->UnReadItemCount(), 1);
  // Pending changes of a handle keep the flag just written.
  c->SetCompanyName("Acme");
  c->SetProperty("UnRead", false);
  c->Save();
  EXPECT_FALSE(other->UnRead());
  EXPECT_EQ(Contacts()->UnReadItemCount(), 0);
}

TEST_F(ObjectModelTest, HandlesOfOneItemShareItsSavedData) {
  auto c = NewContact(Contacts(), "Bob");
  auto other = std::dynamic_pointer_cast<ContactItem>(ns_->GetItemFromID(c->EntryID()));
  c->SetFullName("Robert");
  EXPECT_EQ(other->FullName(), "Bob");  // not saved yet
  c->Save();
  EXPECT_EQ(other->FullName(), "Robert");
  EXPECT_EQ(other->DefaultValue(), "Robert");
}

TEST_F(ObjectModelTest, DeleteMovesToDeletedItemsThenRemovesForGood) {
  auto c = NewContact(Contacts(), "Bob");
  std::string id = c->EntryID();
  c->Delete();
  auto deleted = ns_->GetDefaultFolder(kFolderDeletedItems);
  EXPECT_EQ(Contacts()->Items()->Count(), 0);
  auto moved = ns_->GetItemFromID(id);
  EXPECT_EQ(moved->EntryID(), id);
  EXPECT_TRUE(moved->Parent()->IsSameAs(*deleted));
  moved->Delete();
  EXPECT_THROW(ns_->GetItemFromID(id), HostError);
  EXPECT_THROW(c->FullName(), HostError);
  EXPECT_EQ(deleted->Items()->Count(), 0);
}

TEST_F(ObjectModelTest, MoveKeepsTheIdWithinTheStoreAndChangesItAcrossStores) {
  auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  auto c = NewContact(Contacts(), "Bob");
  std::string id = c->EntryID();
  c->Move(team);
  EXPECT_EQ(c->EntryID(), id);
  EXPECT_EQ(team->Items()->Count(), 1);
  EXPECT_EQ(Contacts()->Items()->Count(), 0);

  ns_->AddStore((dir_ / "x.pst").string());
  auto root = ns_->Folders()->GetLast();
  auto temp = root->Folders()->Add("Temp", kFolderTypeContacts);
  auto copy = c->Copy();
  copy->SetProperty("User4", std::string("Plexisync"));  // carried by the move without a save
  copy->Move(temp);
  EXPECT_NE(copy->EntryID(), id);
  EXPECT_EQ(copy->EntryID().substr(8, 32), root->StoreID());
  EXPECT_EQ(team->Items()->Count(), 1);
  auto there = std::dynamic_pointer_cast<ContactItem>(temp->Items()->Item(1));
  EXPECT_EQ(there->User4(), "Plexisync");
  EXPECT_EQ(there->FullName(), "Bob");
  EXPECT_TRUE(there->Parent()->IsSameAs(*temp));
}

TEST_F(ObjectModelTest, CopyMakesANewItemInTheSameFolder) {
  auto c = NewContact(Contacts(), "Bob");
  c->SetProperty("Email1Address", std::string("bob@example.org"));
  c->Save();
  clock_.Advance(10);
  auto copy = c->Copy();
  EXPECT_NE(copy->EntryID(), c->EntryID());
  EXPECT_TRUE(copy->Saved());
  EXPECT_TRUE(copy->Parent()->IsSameAs(*Contacts()));
  EXPECT_EQ(copy->CreationTime(), clock_.Now());
  PersonScope person(*app_);
  EXPECT_EQ(copy->Text("Email1Address"), "bob@example.org");
  EXPECT_EQ(Contacts()->Items()->Count(), 2);
}

TEST_F(ObjectModelTest, ItemsAddKnowsContactAndMailClasses) {
  auto items = Contacts()->Items();
  EXPECT_TRUE(items->Add("IPM.Contact")->IsContact());
  auto group = items->Add("IPM.Contact.GroupContact");
  EXPECT_TRUE(group->IsContact());
  EXPECT_EQ(group->MessageClass(), "IPM.Contact.GroupContact");
  EXPECT_TRUE(items->Add("IPM.Note")->IsMail());
  EXPECT_TRUE(items->Add(0)->IsMail());
  EXPECT_THROW(items->Add("IPM.Contactless"), HostError);
  EXPECT_THROW(items->Add("IPM.Appointment"), HostError);
  EXPECT_THROW(items->Add(5), HostError);
  EXPECT_EQ(items->Count(), 0);  // nothing saved
  EXPECT_THROW(items->Item(1), HostError);
  EXPECT_EQ(items->GetFirst(), nullptr);
}

TEST_F(ObjectModelTest, MailAttachmentsTakeTheFileAndSaveItBack) {
  auto src = dir_ / "body.pxs";
  platform::WriteTextFile(src, "line one\r\nline two\r\n");
  auto mail = app_->CreateMailItem();
  mail->SetSubject("3830308006600");
  EXPECT_EQ(mail->DefaultValue(), "3830308006600");
  auto att = mail->Attachments()->Add(src.string());
  EXPECT_EQ(att->FileName(), "body.pxs");
  platform::WriteTextFile(src, "changed");  // the attachment was read at once
  mail->Save();
  EXPECT_EQ(mail->Parent()->Name(), "Outbox");
  auto again = std::dynamic_pointer_cast<MailItem>(ns_->GetItemFromID(mail->EntryID()));
  ASSERT_EQ(again->Attachments()->Count(), 1);
  auto out = dir_ / "rec.pxs";
  again->Attachments()->Item("BODY.PXS")->SaveAsFile(out.string());
  EXPECT_EQ(platform::ReadTextFile(out), "line one\r\nline two\r\n");
  EXPECT_THROW(again->Attachments()->Item("other.pxs"), HostError);
  EXPECT_THROW(again->Attachments()->Item(2), HostError);
  EXPECT_THROW(mail->Attachments()->Add((dir_ / "missing.txt").string()), HostError);
  EXPECT_THROW(again->Attachments()->Item(1)->SaveAsFile((dir_ / "no" / "such" / "dir.txt").string()), HostError);
}

// The first save of a new item hands its data to the store without a copy;
// a save that fails at any step of the store leaves the unsaved item whole
// (its properties, attachments and times), and saving again stores it once.
TEST_F(ObjectModelTest, AFailedFirstSaveLeavesTheNewItemAsItWas) {
  auto src = dir_ / "body.pxs";
  const std::string bytes(300000, 'x');
  platform::WriteTextFile(src, bytes);
  auto outbox = ns_->GetDefaultFolder(kFolderOutbox);
  for (std::uint64_t step = 1;; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    const int before = outbox->Items()->Count();
    auto mail = app_->CreateMailItem();
    mail->SetSubject("Update " + std::to_string(step));
    mail->Attachments()->Add(src.string());
    platform::sqlite::FailNthStep(step);
    bool failed = false;
    try {
      mail->Save();
    } catch (const HostError&) {
      failed = true;
    }
    const bool passedEveryStep = platform::sqlite::StepsCounted() < step;
    platform::sqlite::FailNthStep(0);
    if (!failed) {
      ASSERT_TRUE(passedEveryStep) << "a failure was injected but not reported";
      break;
    }
    EXPECT_FALSE(mail->Saved());
    EXPECT_EQ(outbox->Items()->Count(), before);
    EXPECT_EQ(mail->Subject(), "Update " + std::to_string(step));
    EXPECT_TRUE(mail->CreationTime().IsNoDate());
    ASSERT_EQ(mail->Attachments()->Count(), 1);
    mail->Save();
    EXPECT_EQ(outbox->Items()->Count(), before + 1);
    auto again = std::dynamic_pointer_cast<MailItem>(ns_->GetItemFromID(mail->EntryID()));
    ASSERT_EQ(again->Attachments()->Count(), 1);
    auto out = dir_ / "saved.pxs";
    again->Attachments()->Item(1)->SaveAsFile(out.string());
    EXPECT_EQ(platform::ReadTextFile(out), bytes);
    ASSERT_LT(step, 50u) << "the save never got through";
  }
}

TEST_F(ObjectModelTest, DisplayOpensTheContactEditor) {
  auto c = NewContact(Contacts(), "Bob Brown");
  user_.ExpectForm("ContactEditor", [](platform::Form& f) {
    EXPECT_EQ(f.Caption(), "Bob Brown - Contact");
    EXPECT_EQ(f.Get<platform::TextBox>("FullName").Text(), "Bob Brown");
    f.Get<platform::TextBox>("CompanyName").SetText("Acme");
    f.Get<platform::TextBox>("Email1Address").SetText("bob@acme.example");
    f.FindButton("Save and Close")->Click();
  });
  c->Display(true);
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  EXPECT_EQ(c->CompanyName(), "Acme");
  EXPECT_TRUE(c->Saved());
  user_.ExpectForm("ContactEditor", [](platform::Form& f) {
    f.Get<platform::TextBox>("CompanyName").SetText("Other");
    f.FindButton("Cancel")->Click();
  });
  c->Display(true);
  EXPECT_EQ(c->CompanyName(), "Acme");
  auto blank = std::dynamic_pointer_cast<ContactItem>(Contacts()->Items()->Add(2));
  user_.ExpectForm("ContactEditor", [](platform::Form& f) { EXPECT_EQ(f.Caption(), "Untitled - Contact"); });
  blank->Display(true);
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
}

TEST_F(ObjectModelTest, PickFolderListsEveryFolderByPath) {
  Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  user_.ExpectForm("SelectFolder", [](platform::Form& f) {
    EXPECT_EQ(f.Caption(), "Select Folder");
    auto& list = f.Get<platform::ListBox>("Folders");
    int index = -1;
    for (int i = 0; i < list.ListCount(); ++i) {
      if (list.List(i) == "Personal Folders/Contacts/Team") index = i;
    }
    ASSERT_GE(index, 0);
    list.SetListIndex(index);
    f.FindButton("OK")->Click();
  });
  auto picked = ns_->PickFolder();
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->Name(), "Team");
  user_.ExpectForm("SelectFolder");
  EXPECT_EQ(ns_->PickFolder(), nullptr);
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
}

TEST_F(ObjectModelTest, ExplorerViewIsTheFolderDefinition) {
  auto explorer = app_->ActiveExplorer();
  explorer->SetCurrentFolder(Contacts());
  auto view = explorer->CurrentView();
  EXPECT_NE(view->XML().find("<viewname>"), std::string::npos);
  EXPECT_EQ(view->XML().find("<filter>"), std::string::npos);
  view->SetXML("<view><viewname>Changed</viewname></view>");
  EXPECT_NE(Contacts()->ViewXml(), view->XML());
  view->Apply();
  EXPECT_EQ(Contacts()->ViewXml(), "<view><viewname>Changed</viewname></view>");
  EXPECT_EQ(explorer->CurrentView(), view);  // the same view while nothing else changed it
  Contacts()->SetViewXml("<view><viewname>Elsewhere</viewname></view>");
  auto fresh = explorer->CurrentView();
  EXPECT_EQ(fresh->Name(), "Elsewhere");
  EXPECT_EQ(fresh->XML(), "<view><viewname>Elsewhere</viewname></view>");
  explorer->SetCurrentFolder(ns_->GetDefaultFolder(kFolderInbox));
  EXPECT_NE(explorer->CurrentView()->XML().find("<viewname>"), std::string::npos);
  EXPECT_EQ(Contacts()->ViewXml(), "<view><viewname>Elsewhere</viewname></view>");
  EXPECT_GE(explorer->CommandBars().Count(), 2);
  EXPECT_NO_THROW(explorer->CommandBars().Item("Standard"));
}

}  // namespace
}  // namespace host::testing

namespace host::testing {
namespace {

// User properties are kept with the item through a restart and a copy, are
// no fields of the item, and a change of one is stored by the next save only.
TEST_F(HostTest, UserPropertiesAreKeptWithTheItem) {
  auto c = std::dynamic_pointer_cast<ContactItem>(Contacts()->Items()->Add("IPM.Contact"));
  c->SetFullName("Dan Diaz");
  c->SetUserProperty("Tag", "one:1");
  EXPECT_EQ(c->UserProperty("Tag"), "one:1");
  EXPECT_EQ(c->UserProperty("Other"), "");
  c->Save();
  const std::string id = c->EntryID();
  EXPECT_THROW(c->GetProperty("Tag"), HostError);
  c->SetUserProperty("Tag", "two");  // not saved

  Start();
  auto again = std::dynamic_pointer_cast<ContactItem>(ns_->GetItemFromID(id));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->UserProperty("Tag"), "one:1");
  EXPECT_EQ(again->FullName(), "Dan Diaz");
  auto copy = again->Copy();
  EXPECT_EQ(copy->UserProperty("Tag"), "one:1");
  EXPECT_THROW(again->SetUserProperty("", "x"), HostError);
}

}  // namespace
}  // namespace host::testing
