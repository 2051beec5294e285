#include "plexisync/storage/registry.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "plexisync/core/errors.hpp"

namespace plexisync {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("plexisync-reg-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    hive_ = platform::KeyStore::Open(dir_ / "registry.db");
    reg_ = std::make_unique<CRegistry>([this](std::int32_t root) -> platform::KeyStore* {
      return root == HKEY_CURRENT_USER ? hive_.get() : nullptr;
    });
    reg_->Init(HKEY_CURRENT_USER);
  }
  void TearDown() override {
    reg_.reset();
    hive_.reset();
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
  std::unique_ptr<platform::KeyStore> hive_;
  std::unique_ptr<CRegistry> reg_;
};

TEST_F(RegistryTest, NewInstanceStartsAtClassesRoot) {
  CRegistry fresh({});
  EXPECT_EQ(fresh.RootKey(), HKEY_CLASSES_ROOT);
  EXPECT_FALSE(fresh.CreateKey("Software"));  // no hive behind that root
}

TEST_F(RegistryTest, TextValuesAndTheirStoredType) {
  ::setenv("PLEXISYNC_TEST_VAR", "expanded", 1);
  struct Case {
    const char* text;
    std::int32_t type;
    const char* readBack;
  } cases[] = {
      {"plain", 1, "plain"},
      {"100%", 1, "100%"},
      {"%%", 1, "%%"},
      {"a%x%b", 2, "a%x%b"},
      {"%PLEXISYNC_TEST_VAR%!", 2, "expanded!"},
      {"", 1, ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(reg_->SetValue("Software\\Test", "v", std::string(c.text), 1)) << c.text;
    EXPECT_EQ(reg_->ValueType("Software\\Test", "v"), c.type) << c.text;
    EXPECT_EQ(reg_->GetString("Software\\Test", "v", "default"), c.readBack) << c.text;
  }
  // An empty text is stored as one NUL byte.
  reg_->SetValue("Software\\Test", "empty", std::string(), 1);
  EXPECT_EQ(hive_->QueryValue("Software\\Test", "empty")->data, Bytes{0});
}

TEST_F(RegistryTest, DefaultsComeBackWithTheirOwnType) {
  EXPECT_EQ(reg_->GetValue("Software\\Missing", "v", std::int32_t{1}), Variant(std::int32_t{1}));
  EXPECT_EQ(reg_->GetValue("Software", "missing", std::string("x")), Variant(std::string("x")));
  EXPECT_EQ(reg_->ValueType("Software\\Missing", "v"), 0);
}

TEST_F(RegistryTest, NumbersAndBytes) {
  EXPECT_TRUE(reg_->SetValue("K", "n", std::int32_t{-2}, 4));
  EXPECT_EQ(reg_->ValueType("K", "n"), 4);
  EXPECT_EQ(reg_->GetValue("K", "n", {}), Variant(std::int32_t{-2}));
  EXPECT_TRUE(reg_->SetValue("K", "n16", std::int16_t{7}, 5));
  EXPECT_EQ(reg_->ValueType("K", "n16"), 4);
  // A value of the wrong kind writes nothing but still reports success.
  EXPECT_TRUE(reg_->SetValue("K", "nope", std::string("12"), 4));
  EXPECT_EQ(reg_->ValueType("K", "nope"), 0);
  EXPECT_TRUE(reg_->SetValue("K", "b", Bytes{1, 2, 3}, 3));
  EXPECT_EQ(reg_->GetValue("K", "b", {}), Variant(Bytes{1, 2, 3}));
  EXPECT_FALSE(reg_->SetValue("K", "x", std::string("t"), 9));
  // Big-endian numbers written by others read with their bytes reversed.
  hive_->SetValue("K", "be", platform::kRegDwordBigEndian, Bytes{0, 0, 1, 2});
  EXPECT_EQ(reg_->GetValue("K", "be", {}), Variant(std::int32_t{0x0102}));
  // A multi-string keeps the NULs between its items.
  hive_->SetValue("K", "multi", platform::kRegMultiSz, Bytes{'a', 0, 'b', 0, 0});
  EXPECT_EQ(reg_->GetString("K", "multi", ""), std::string("a\0b\0", 4));
}

TEST_F(RegistryTest, KeysListsAndDeletion) {
  EXPECT_TRUE(reg_->CreateKey("A\\B"));
  EXPECT_TRUE(reg_->CreateKey("A\\B"));  // exists already: still true
  reg_->CreateKey("A\\c");
  reg_->CreateKey("A\\a2");
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(reg_->GetAllSubKeys("A", names), 3u);
  EXPECT_EQ(names, (std::vector<std::string>{"a2", "B", "c"}));
  EXPECT_EQ(reg_->GetAllSubKeys("Nowhere", names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(reg_->DeleteKey("A"));  // still has subkeys
  EXPECT_TRUE(reg_->KeyExists("A\\B"));
  EXPECT_TRUE(reg_->DeleteKey("A\\B"));
  EXPECT_FALSE(reg_->KeyExists("A\\B"));
  reg_->SetValue("A", "z", std::string("1"));
  reg_->SetValue("A", "y", std::string("2"));
  EXPECT_EQ(reg_->GetAllValueNames("A"), (std::vector<std::string>{"z", "y"}));
  EXPECT_TRUE(reg_->DeleteValue("A", "z"));
  EXPECT_FALSE(reg_->DeleteValue("A", "z"));
  EXPECT_FALSE(reg_->DeleteValue("Nowhere", "z"));
}

TEST_F(RegistryTest, EmptyKeyNameRaises) {
  const auto expectInvalid = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no error raised";
    } catch (const AddinError& e) {
      EXPECT_EQ(e.Number(), kErrInvalidKeyName);
      EXPECT_STREQ(e.what(), "Invalid KeyName value");
    }
  };
  expectInvalid([&] { reg_->CreateKey(""); });
  expectInvalid([&] { reg_->DeleteKey(""); });
  expectInvalid([&] { reg_->DeleteValue("", "v"); });
  expectInvalid([&] { reg_->KeyExists(""); });
  expectInvalid([&] { reg_->SetValue("", "v", std::string("x")); });
  expectInvalid([&] { reg_->ValueType("", "v"); });
  // Reading with an empty key name reads from the root key itself.
  hive_->SetValue("", "rootval", platform::kRegSz, EncodeRegText("r"));
  EXPECT_EQ(reg_->GetString("", "rootval", "d"), "r");
}

TEST_F(RegistryTest, MalformedNamesAreOrdinaryFailures) {
  EXPECT_FALSE(reg_->CreateKey("A\\\\B"));
  EXPECT_FALSE(reg_->KeyExists(std::string(300, 'k')));
  EXPECT_EQ(reg_->GetString("A\\\\B", "v", "d"), "d");
}

TEST_F(RegistryTest, FindValueNameByTextMatchesTheLinearSearch) {
  reg_->SetValue("F\\mapping", "id1", std::string("X"));
  reg_->SetValue("F\\mapping", "id2", std::string("C"));
  reg_->SetValue("F\\mapping", "id3", std::string("C"));
  EXPECT_EQ(reg_->FindValueNameByText("F\\mapping", "C"), "id2");
  EXPECT_EQ(reg_->FindValueNameByText("F\\mapping", "Q"), "");
  EXPECT_EQ(reg_->FindValueNameByText("Missing", "C"), "");
  // A value stored as an expandable string is compared as it reads back.
  ::setenv("PLEXISYNC_TEST_VAR", "C", 1);
  reg_->SetValue("G\\mapping", "first", std::string("%PLEXISYNC_TEST_VAR%"));
  reg_->SetValue("G\\mapping", "second", std::string("C"));
  EXPECT_EQ(reg_->FindValueNameByText("G\\mapping", "C"), "first");
}

}  // namespace
}  // namespace plexisync
