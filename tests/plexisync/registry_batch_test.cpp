// The accessor's reads of a whole key and its grouped writes: what they read
// and write is exactly what the single-value calls read and write.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "platform/sqlite.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/registry.hpp"

namespace plexisync {
namespace {

class RegistryBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("plexisync-regbatch-" + std::to_string(::getpid()) + "-" +
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
    platform::sqlite::FailNthStep(0);
    reg_.reset();
    hive_.reset();
    std::filesystem::remove_all(dir_);
  }
  using Texts = std::vector<std::pair<std::string, std::string>>;
  std::filesystem::path dir_;
  std::unique_ptr<platform::KeyStore> hive_;
  std::unique_ptr<CRegistry> reg_;
};

TEST_F(RegistryBatchTest, WholeKeyTextsReadAsGetString) {
  ::setenv("PLEXISYNC_BATCH_VAR", "expanded", 1);
  const char* key = "Software\\K";
  ASSERT_TRUE(reg_->SetValue(key, "plain", std::string("text"), 1));
  ASSERT_TRUE(reg_->SetValue(key, "empty", std::string(""), 1));
  ASSERT_TRUE(reg_->SetValue(key, "expand", std::string("%PLEXISYNC_BATCH_VAR%!"), 1));
  ASSERT_TRUE(reg_->SetValue(key, "number", std::int32_t{42}, 4));
  ASSERT_TRUE(hive_->SetValue(key, "raw", platform::kRegSz, std::vector<std::uint8_t>{'n', 'o', 'n', 'u', 'l'}));
  const auto texts = reg_->GetAllValueTexts(key);
  ASSERT_EQ(texts.size(), 5u);
  for (const auto& [name, text] : texts) {
    EXPECT_EQ(text, reg_->GetString(key, name, "<default>")) << name;
  }
  EXPECT_EQ(texts[2].second, "expanded!");
  EXPECT_TRUE(reg_->GetAllValueTexts("Software\\Missing").empty());
  EXPECT_TRUE(CRegistry({}).GetAllValueTexts(key).empty());
}

TEST_F(RegistryBatchTest, GroupedWritesStoreTextsAsSetValueDoes) {
  const Texts texts{{"a", "1"}, {"b", "50%"}, {"c", "%x%y"}};
  ASSERT_TRUE(reg_->SetTextValues("Software\\Set", texts));
  ASSERT_TRUE(reg_->ReplaceTextValues("Software\\Replace", texts));
  for (const char* key : {"Software\\Set", "Software\\Replace"}) {
    ASSERT_TRUE(reg_->SetValue("Software\\Single", "a", std::string("1"), 1));
    for (const auto& [name, text] : texts) {
      reg_->SetValue("Software\\Single", name, text, 1);
      EXPECT_EQ(reg_->ValueType(key, name), reg_->ValueType("Software\\Single", name)) << key << name;
      EXPECT_EQ(hive_->QueryValue(key, name), hive_->QueryValue("Software\\Single", name)) << key << name;
    }
  }
  // A replace drops what is not listed; a set leaves it.
  ASSERT_TRUE(reg_->SetTextValues("Software\\Set", {{"d", "4"}}));
  ASSERT_TRUE(reg_->ReplaceTextValues("Software\\Replace", {{"d", "4"}}));
  EXPECT_EQ(reg_->GetAllValueNames("Software\\Set"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(reg_->GetAllValueNames("Software\\Replace"), (std::vector<std::string>{"d"}));
  // Refused as SetValue is refused; an empty key name raises as it does.
  EXPECT_FALSE(CRegistry({}).SetTextValues("Software\\Set", texts));
  EXPECT_FALSE(CRegistry({}).ReplaceTextValues("Software\\Set", texts));
  EXPECT_THROW(reg_->SetTextValues("", texts), AddinError);
  EXPECT_THROW(reg_->ReplaceTextValues("", texts), AddinError);
}

TEST_F(RegistryBatchTest, TransactKeepsAllOrNothing) {
  EXPECT_THROW(reg_->Transact([&] {
    reg_->SetValue("Software\\T", "a", std::string("1"), 1);
    reg_->ReplaceTextValues("Software\\T\\L", {{"x", "1"}});
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_FALSE(reg_->KeyExists("Software\\T"));
  // A failure of the key store inside is a component failure of the accessor.
  platform::sqlite::FailNthStep(4);
  EXPECT_THROW(reg_->Transact([&] {
    reg_->SetValue("Software\\T", "a", std::string("1"), 1);
    reg_->SetValue("Software\\T", "b", std::string("1"), 1);
    reg_->SetValue("Software\\T", "c", std::string("1"), 1);
  }),
               AddinError);
  platform::sqlite::FailNthStep(0);
  EXPECT_FALSE(reg_->KeyExists("Software\\T"));
  reg_->Transact([&] {
    reg_->SetValue("Software\\T", "a", std::string("1"), 1);
    reg_->SetTextValues("Software\\T", {{"b", "2"}});
  });
  EXPECT_EQ(reg_->GetAllValueNames("Software\\T"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace plexisync
