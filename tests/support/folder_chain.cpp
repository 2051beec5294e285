#include "support/folder_chain.hpp"

#include "host/store.hpp"
#include "host/ui/view.hpp"
#include "platform/sqlite.hpp"

namespace host {

std::uint32_t WriteFolderChain(const std::filesystem::path& storeFile, std::uint32_t parent, int depth,
                               const std::string& name, bool contacts) {
  platform::sqlite::Connection db(storeFile, SQLITE_OPEN_READWRITE);
  db.SetBusyTimeout(5000);
  platform::sqlite::Transaction tx(db);
  // Numbers and places after everything the store holds, as the client
  // hands them out.
  platform::sqlite::Statement last(db,
                                   "SELECT max((SELECT coalesce(max(number), 0) FROM folders), "
                                   "(SELECT coalesce(max(number), 0) FROM items)), "
                                   "max((SELECT coalesce(max(seq), 0) FROM folders), "
                                   "(SELECT coalesce(max(seq), 0) FROM items))");
  last.Step();
  std::int64_t number = last.ColumnInt64(0);
  std::int64_t seq = last.ColumnInt64(1);
  last.Reset();
  const std::string view = contacts ? DefaultContactsViewXml() : detail::DefaultMailViewXml();
  platform::sqlite::Statement insert(
      db, "INSERT INTO folders(number, parent, name, item_type, role, view_xml, seq) VALUES(?, ?, ?, ?, '', ?, ?)");
  for (int i = 0; i < depth; ++i) {
    insert.BindInt64(1, ++number).BindInt64(2, parent).BindText(3, name);
    insert.BindInt64(4, contacts ? detail::kContactItemType : detail::kMailItemType);
    insert.BindText(5, view).BindInt64(6, ++seq).Run();
    insert.Reset();
    parent = static_cast<std::uint32_t>(number);
  }
  tx.Commit();
  return parent;
}

}  // namespace host
