// Opens arbitrary bytes as a store file. Besides the sanitizers' checks: a
// file is either refused with HostError or opened, and an opened store is
// whole: every folder below the top folder and every item in them can be
// found and read (all properties, all attachments), and nothing is listed
// twice.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "host/errors.hpp"
#include "host/store.hpp"

namespace {

namespace fs = std::filesystem;
using host::detail::FolderRecord;
using host::detail::ItemRecord;
using host::detail::Store;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// One private folder per process, removed at exit.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string templ = (fs::temp_directory_path() / "store_open_fuzz.XXXXXX").string();
    Require(::mkdtemp(templ.data()) != nullptr);
    dir = templ;
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

const fs::path& StorePath() {
  static Scratch scratch;
  static const fs::path path = scratch.dir / "store.db";
  return path;
}

void RemoveStoreFiles(const fs::path& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path.string() + suffix, ec);
}

std::size_t ReadItem(const Store& store, const ItemRecord& item) {
  const auto& schema = host::detail::SchemaOf(item.kind);
  std::size_t sum = 0;
  for (std::size_t i = 0; i < schema.Size(); ++i) {
    const host::Variant value = host::detail::PropertyValue(item, i, store.Id());
    if (const auto* text = std::get_if<std::string>(&value)) sum += text->size();
  }
  for (const auto& a : item.attachments) sum += a.name.size() + a.data.size();
  return sum;
}

void Walk(const Store& store) {
  std::set<std::uint32_t> seenFolders, seenItems;
  std::vector<std::uint32_t> pending{store.Root()};
  volatile std::size_t sink = 0;
  while (!pending.empty()) {
    const std::uint32_t number = pending.back();
    pending.pop_back();
    Require(seenFolders.insert(number).second);
    const FolderRecord* folder = store.Folder(number);
    Require(folder != nullptr);
    Require(store.IsWithin(number, store.Root()));
    sink = sink + folder->name.size() + folder->viewXml.size();
    for (std::uint32_t item : folder->items) {
      Require(seenItems.insert(item).second);
      const ItemRecord* record = store.Item(item);
      Require(record != nullptr && record->folder == number);
      sink = sink + ReadItem(store, *record);
    }
    for (std::uint32_t child : folder->children) {
      const FolderRecord* sub = store.Folder(child);
      Require(sub != nullptr && sub->parent == number);
      pending.push_back(child);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& path = StorePath();
  RemoveStoreFiles(path);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Require(static_cast<bool>(out.flush()));
  }
  try {
    auto store = host::detail::Store::Open(path, host::detail::StoreLayout::kDefault);
    Require(store->IsOpen());
    Walk(*store);
    store->Close();
  } catch (const host::HostError&) {
  }
  RemoveStoreFiles(path);
  return 0;
}
