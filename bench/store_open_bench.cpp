// Opening a message store of 5,000 contacts (checking the whole file and
// reading it into memory), as the client does at start.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/store.hpp"

namespace {

using host::detail::Store;

class StoreFile {
 public:
  StoreFile() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "store-open-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    path = dir_ / "store.pst";
    auto s = Store::Open(path, host::detail::StoreLayout::kDefault);
    const auto contacts = s->FolderByRole(host::detail::FolderRole::kContacts);
    const auto& schema = host::detail::SchemaOf(host::detail::ItemKind::kContact);
    for (int i = 0; i < 5000; ++i) {
      host::detail::ItemRecord r;
      r.folder = contacts;
      r.kind = host::detail::ItemKind::kContact;
      r.messageClass = "IPM.Contact";
      for (const char* field : {"FullName", "CompanyName", "Email1Address", "BusinessTelephoneNumber"}) {
        const auto index = *schema.IndexOf(field);
        host::detail::SetStoredValue(r.props, index, std::string(field) + " of contact " + std::to_string(i),
                                     schema.At(index).defaultValue);
      }
      s->InsertItem(std::move(r));
    }
  }
  ~StoreFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path path;

 private:
  std::filesystem::path dir_;
};

void BM_OpenStoreOf5000Contacts(benchmark::State& state) {
  StoreFile file;
  for (auto _ : state) {
    auto s = Store::Open(file.path, host::detail::StoreLayout::kDefault);
    benchmark::DoNotOptimize(s->Root());
  }
}
BENCHMARK(BM_OpenStoreOf5000Contacts)->Unit(benchmark::kMillisecond);

}  // namespace
