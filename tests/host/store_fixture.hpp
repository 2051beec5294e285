#pragma once
// Message store files in a temporary folder, opened directly (below the
// object model), with helpers to fill them, to describe everything a store
// holds in one comparable text, and to look at a file's bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "host/errors.hpp"
#include "host/store.hpp"
#include "platform/sqlite.hpp"

namespace host::testing {

class StoreFileTest : public ::testing::Test {
 public:
  using Store = detail::Store;
  using ItemRecord = detail::ItemRecord;

  static ItemRecord Contact(std::uint32_t folder, const std::string& name, std::size_t attachments = 0);
  static std::string Describe(const Store& s, bool counters = true);
  static std::string ReadBytes(const std::filesystem::path& file);
  static void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("plexisync-storefile-" + std::to_string(::getpid()) + "-" +
                                                     info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    platform::sqlite::FailNthStep(0);
    std::filesystem::remove_all(dir_);
  }

  std::shared_ptr<Store> OpenStore(const std::string& name,
                                   detail::StoreLayout layout = detail::StoreLayout::kDefault) {
    return Store::Open(dir_ / name, layout);
  }

  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  std::filesystem::path dir_;
};

inline StoreFileTest::ItemRecord StoreFileTest::Contact(std::uint32_t folder, const std::string& name,
                                                      std::size_t attachments) {
  ItemRecord r;
  r.folder = folder;
  r.kind = detail::ItemKind::kContact;
  r.messageClass = "IPM.Contact";
  const auto& schema = detail::SchemaOf(r.kind);
  const auto index = *schema.IndexOf("FullName");
  detail::SetStoredValue(r.props, index, name, schema.At(index).defaultValue);
  for (std::size_t i = 0; i < attachments; ++i) {
    detail::AttachmentData a;
    a.name = name + "-" + std::to_string(i) + ".bin";
    for (std::size_t b = 0; b < 300 + 40 * i; ++b) a.data.push_back(static_cast<std::uint8_t>(b * 31 + i));
    r.attachments.push_back(std::move(a));
  }
  return r;
}


// Everything the store holds, folder by folder from the top, in a text that
// two stores can be compared by. The change counters of the folders are only
// in memory; `counters` includes them.
inline std::string StoreFileTest::Describe(const Store& s, bool counters) {
  std::ostringstream out;
  out << "store " << s.Id().size() << " root " << s.Root() << "\n";
  std::vector<std::uint32_t> todo{s.Root()};
  while (!todo.empty()) {
    const std::uint32_t n = todo.back();
    todo.pop_back();
    const auto* f = s.Folder(n);
    if (!f) {
      out << "missing folder " << n << "\n";
      continue;
    }
    out << "folder " << f->number << " parent " << f->parent << " '" << f->name << "' type "
        << f->defaultItemType << " role " << static_cast<int>(f->role) << " seq " << f->seq << " view "
        << f->viewXml.size();
    if (counters) out << " versions " << f->version << "/" << f->unreadVersion;
    out << "\n";
    for (auto c : f->children) out << "  child " << c << "\n";
    for (auto i : f->items) {
      const auto* r = s.Item(i);
      if (!r) {
        out << "  missing item " << i << "\n";
        continue;
      }
      out << "  item " << r->number << " folder " << r->folder << " seq " << r->seq << " kind "
          << static_cast<int>(r->kind) << " " << r->messageClass << " unread " << r->unread << " submitted "
          << r->submitted << " created " << r->created.SecondsSinceZero() << " modified "
          << r->modified.SecondsSinceZero() << "\n";
      for (const auto& [index, value] : r->props) {
        out << "    prop " << index << " = ";
        std::visit(
            [&](const auto& v) {
              using T = std::decay_t<decltype(v)>;
              if constexpr (std::is_same_v<T, std::monostate>) {
                out << "(empty)";
              } else if constexpr (std::is_same_v<T, platform::DateTime>) {
                out << v.SecondsSinceZero();
              } else {
                out << v;
              }
            },
            value);
        out << "\n";
      }
      for (const auto& a : r->attachments) {
        out << "    attachment '" << a.name << "' " << a.data.size() << " bytes";
        std::uint32_t sum = 0;
        for (auto b : a.data) sum = sum * 131 + b;
        out << " sum " << sum << "\n";
      }
    }
    for (auto it = f->children.rbegin(); it != f->children.rend(); ++it) todo.push_back(*it);
  }
  return out.str();
}


inline std::string StoreFileTest::ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void StoreFileTest::WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace host::testing
