// Writes a small store for the store_open seed corpus: the default folders,
// a contacts subfolder, two contacts and a mail with two attachments.
//   store_seed OUT.db
// fuzz/tools/make_store_seed.sh runs it and shrinks the file (page size 512,
// VACUUM) to make the seed a few KB.
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/store.hpp"

namespace {

using namespace host::detail;

void Set(ItemRecord& r, const char* name, host::Variant value) {
  const auto& schema = SchemaOf(r.kind);
  const auto index = schema.IndexOf(name);
  if (!index) throw std::runtime_error(std::string("no property ") + name);
  SetStoredValue(r.props, *index, std::move(value), schema.At(*index).defaultValue);
}

ItemRecord NewItem(std::uint32_t folder, ItemKind kind) {
  ItemRecord r;
  r.folder = folder;
  r.kind = kind;
  r.messageClass = kind == ItemKind::kContact ? host::kContactClass : host::kMailClass;
  r.created = platform::DateTime::FromParts(2024, 3, 1, 9, 30, 0);
  r.modified = platform::DateTime::FromParts(2024, 3, 2, 17, 5, 12);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: store_seed OUT.db\n");
    return 2;
  }
  try {
    auto store = Store::Open(argv[1], StoreLayout::kDefault);
    const std::uint32_t contacts = store->FolderByRole(FolderRole::kContacts);
    const std::uint32_t team = store->CreateFolder(contacts, "Sales Team", kContactItemType, FolderRole::kNone);

    ItemRecord carol = NewItem(team, ItemKind::kContact);
    Set(carol, "FullName", std::string("Carol Cole"));
    Set(carol, "FirstName", std::string("Carol"));
    Set(carol, "LastName", std::string("Cole"));
    Set(carol, "Email1Address", std::string("carol@example.org"));
    Set(carol, "CompanyName", std::string("Cole & Co"));
    Set(carol, "Birthday", platform::DateTime::FromParts(1990, 6, 15));
    Set(carol, "Body", std::string("Met at the fair.\r\nČ ą ę"));
    store->InsertItem(carol);

    ItemRecord dan = NewItem(team, ItemKind::kContact);
    Set(dan, "FullName", std::string("Dan Diaz"));
    Set(dan, "JobTitle", std::string("Account Manager"));
    dan.unread = true;
    store->InsertItem(dan);

    ItemRecord mail = NewItem(store->FolderByRole(FolderRole::kInbox), ItemKind::kMail);
    Set(mail, "Subject", std::string("The sales team"));
    Set(mail, "To", std::string("Bob Brown <bob@example.org>"));
    Set(mail, "SenderName", std::string("Alice Adams"));
    Set(mail, "Body", std::string("Hi Bob, the contacts are attached."));
    mail.unread = true;
    const std::string text = "Carol Cole, carol@example.org\r\n";
    mail.attachments.push_back({"sales-team.txt", {text.begin(), text.end()}});
    mail.attachments.push_back({"bytes.bin", {0x00, 0x01, 0xFE, 0xFF}});
    store->InsertItem(mail);

    // The store keeps view definitions as plain text; short ones keep the
    // seed small (the default ones are 1-2 KB per folder).
    std::vector<std::uint32_t> folders{store->Root()};
    for (std::size_t i = 0; i < folders.size(); ++i) {
      store->SetViewXml(folders[i], "<view type=\"table\"/>");
      for (std::uint32_t child : store->Folder(folders[i])->children) folders.push_back(child);
    }
    store->Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store_seed: %s\n", e.what());
    return 1;
  }
  return 0;
}
