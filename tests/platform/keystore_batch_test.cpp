// Reading a whole key, writing in one transaction, and rewriting a key's
// values all at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>

#include "platform/keystore.hpp"
#include "platform/sqlite.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::uint8_t> B(std::string_view s) { return {s.begin(), s.end()}; }
NamedValue Text(std::string name, std::string_view text) { return NamedValue{std::move(name), RegValue{kRegSz, B(text)}}; }

class KeyStoreBatchTest : public ::testing::Test {
 protected:
  KeyStoreBatchTest() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "keystore-batch-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    ks_ = Open();
  }
  ~KeyStoreBatchTest() override {
    sqlite::FailNthStep(0);
    ks_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<KeyStore> Open() const { return KeyStore::Open(dir_ / "hive.db"); }
  void Reset() {
    ks_.reset();
    std::filesystem::remove(dir_ / "hive.db");
    ks_ = Open();
  }
  static std::vector<std::string> Names(KeyStore& ks, std::string_view path) {
    std::vector<std::string> out;
    while (auto n = ks.EnumValue(path, out.size())) out.push_back(*n);
    return out;
  }
  static std::vector<std::string> SubKeys(KeyStore& ks, std::string_view path) {
    std::vector<std::string> out;
    while (auto n = ks.EnumSubKey(path, out.size())) out.push_back(*n);
    return out;
  }

  std::filesystem::path dir_;
  std::unique_ptr<KeyStore> ks_;
};

TEST_F(KeyStoreBatchTest, ReadValuesGivesEveryValueInEnumerationOrder) {
  EXPECT_TRUE(ks_->ReadValues("Missing").empty());
  ASSERT_TRUE(ks_->CreateKey("K\\Sub"));
  ASSERT_TRUE(ks_->SetValue("K", "b", kRegSz, B("2")));
  ASSERT_TRUE(ks_->SetValue("K", "A", kRegDword, B("\x01\x00\x00\x00")));
  ASSERT_TRUE(ks_->SetValue("K", "c", kRegBinary, B("")));
  ASSERT_TRUE(ks_->SetValue("K", "B", kRegExpandSz, B("%x%")));  // rewrite keeps its place
  ASSERT_TRUE(ks_->SetValue("K\\Sub", "not", kRegSz, B("mine")));
  const auto values = ks_->ReadValues("k");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], (NamedValue{"b", RegValue{kRegExpandSz, B("%x%")}}));
  EXPECT_EQ(values[1], (NamedValue{"A", RegValue{kRegDword, B("\x01\x00\x00\x00")}}));
  EXPECT_EQ(values[2], (NamedValue{"c", RegValue{kRegBinary, {}}}));
  EXPECT_THAT(Names(*ks_, "K"), ElementsAre("b", "A", "c"));
}

TEST_F(KeyStoreBatchTest, TransactKeepsAllOrNothing) {
  ASSERT_TRUE(ks_->CreateKey("Old\\Leaf"));
  ASSERT_TRUE(ks_->SetValue("Old", "keep", kRegSz, B("1")));
  const std::function<void()> writes = [&] {
    ks_->CreateKey("New\\Deep");
    ks_->SetValue("New\\Deep", "v", kRegSz, B("x"));
    ks_->DeleteValue("Old", "keep");
    ks_->DeleteKey("Old\\Leaf");
    const NamedValue list[] = {Text("a", "1")};
    ks_->ReplaceValues("New", list);
  };
  // A throw undoes every write, also those the cached listings had seen.
  EXPECT_THROW(ks_->Transact([&] {
    writes();
    EXPECT_THAT(SubKeys(*ks_, "New"), ElementsAre("Deep"));
    EXPECT_THAT(Names(*ks_, "Old"), ElementsAre());
    throw std::logic_error("stop");
  }),
               std::logic_error);
  auto fresh = Open();
  for (KeyStore* ks : {ks_.get(), fresh.get()}) {
    EXPECT_FALSE(ks->KeyExists("New"));
    EXPECT_TRUE(ks->KeyExists("Old\\Leaf"));
    EXPECT_THAT(Names(*ks, "Old"), ElementsAre("keep"));
    EXPECT_THAT(SubKeys(*ks, "Old"), ElementsAre("Leaf"));
  }
  // Returning keeps them all.
  ks_->Transact(writes);
  auto other = Open();
  EXPECT_TRUE(other->QueryValue("New\\Deep", "v"));
  EXPECT_FALSE(other->KeyExists("Old\\Leaf"));
  EXPECT_THAT(Names(*other, "Old"), ElementsAre());
  EXPECT_THAT(Names(*other, "New"), ElementsAre("a"));
}

TEST_F(KeyStoreBatchTest, AFailedPartInsideATransactionIsUndoneOnItsOwn) {
  ks_->Transact([&] {
    ks_->SetValue("", "before", kRegSz, B("1"));
    try {
      ks_->Transact([&] {
        ks_->SetValue("", "inner", kRegSz, B("1"));
        throw std::logic_error("inner");
      });
    } catch (const std::logic_error&) {
    }
    // A write the database refuses inside: only that write is undone.
    sqlite::FailNthStep(2);
    const NamedValue list[] = {Text("x", "1"), Text("y", "2")};
    EXPECT_THROW(ks_->ReplaceValues("R", list), KeyStoreError);
    sqlite::FailNthStep(0);
    ks_->SetValue("", "after", kRegSz, B("1"));
  });
  auto other = Open();
  EXPECT_THAT(Names(*other, ""), ElementsAre("before", "after"));
  EXPECT_FALSE(other->KeyExists("R"));
}

TEST_F(KeyStoreBatchTest, ReplaceValuesRewritesTheKeyInTheGivenOrder) {
  ASSERT_TRUE(ks_->CreateKey("L\\Child"));
  ASSERT_TRUE(ks_->SetValue("L", "gone", kRegSz, B("1")));
  ASSERT_TRUE(ks_->SetValue("L", "z", kRegSz, B("1")));
  const NamedValue list[] = {Text("z", "1"), Text("a", "1"), Text("Z", "2"), Text("m", "")};
  ks_->ReplaceValues("L", list);
  auto other = Open();
  const auto values = other->ReadValues("L");
  // A repeated name (case-insensitively) takes the later data in the first place.
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], Text("z", "2"));
  EXPECT_EQ(values[1], Text("a", "1"));
  EXPECT_EQ(values[2], Text("m", ""));
  EXPECT_THAT(SubKeys(*other, "L"), ElementsAre("Child"));
  // A missing key is created with its parents; an empty list empties the key.
  const NamedValue one[] = {Text("v", "1")};
  ks_->ReplaceValues("New\\Key", one);
  EXPECT_EQ(ks_->ReadValues("New\\Key").size(), 1u);
  ks_->ReplaceValues("New\\Key", {});
  EXPECT_TRUE(ks_->KeyExists("New\\Key"));
  EXPECT_TRUE(ks_->ReadValues("New\\Key").empty());
  // Bad names are refused before anything is written.
  const NamedValue bad[] = {Text("ok", "1"), Text(std::string(KeyStore::kMaxValueNameLength + 1, 'n'), "1")};
  EXPECT_THROW(ks_->ReplaceValues("L", bad), KeyStoreInputError);
  EXPECT_EQ(ks_->ReadValues("L").size(), 3u);
}

TEST_F(KeyStoreBatchTest, ReplacingWithTheSameValuesWritesNothing) {
  // Another connection sees the file's data version move with every change
  // committed by this one.
  sqlite::Connection watcher(dir_ / "hive.db", SQLITE_OPEN_READWRITE);
  auto version = [&] {
    sqlite::Statement st(watcher, "PRAGMA data_version");
    st.Step();
    return st.ColumnInt64(0);
  };
  std::vector<NamedValue> list;
  for (int i = 0; i < 200; ++i) list.push_back(Text("id" + std::to_string(i), "1"));
  ks_->ReplaceValues("L", list);
  const auto before = version();
  ks_->ReplaceValues("L", list);
  EXPECT_EQ(version(), before) << "nothing committed";
  // The same names in another order, or another spelling, are a change.
  std::swap(list[0], list[1]);
  ks_->ReplaceValues("L", list);
  EXPECT_NE(version(), before);
  EXPECT_EQ(Names(*Open(), "L")[0], "id1");
  const auto swapped = version();
  list[5].name = "ID5";
  ks_->ReplaceValues("L", list);
  EXPECT_NE(version(), swapped);
  EXPECT_EQ(Names(*Open(), "L")[5], "ID5");
}

TEST_F(KeyStoreBatchTest, SetValuesWritesLikeOneSetValueAfterTheOther) {
  ASSERT_TRUE(ks_->CreateKey("K"));
  ASSERT_TRUE(ks_->SetValue("K", "kept", kRegSz, B("k")));
  ASSERT_TRUE(ks_->SetValue("K", "b", kRegSz, B("old")));
  const NamedValue list[] = {Text("a", "1"), Text("B", "new"), Text("c", "3")};
  ks_->SetValues("K", list);
  const auto values = Open()->ReadValues("K");
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], Text("kept", "k"));
  EXPECT_EQ(values[1], Text("b", "new")) << "an overwrite keeps its place and its name";
  EXPECT_EQ(values[2], Text("a", "1"));
  EXPECT_EQ(values[3], Text("c", "3"));
  ks_->SetValues("New\\Key", list);
  EXPECT_EQ(ks_->ReadValues("New\\Key").size(), 3u);
}

// A failure at any step leaves the hive as it was: the rewrite of a key,
// and a transaction of several writes.
TEST_F(KeyStoreBatchTest, AFailureAtAnyStepLeavesNothing) {
  const struct {
    const char* name;
    std::function<void(KeyStore&)> write;
  } cases[] = {
      {"ReplaceValues",
       [](KeyStore& ks) {
         const NamedValue list[] = {Text("b", "2"), Text("c", "3"), Text("d", "4")};
         ks.ReplaceValues("K\\L", list);
       }},
      {"SetValues",
       [](KeyStore& ks) {
         const NamedValue list[] = {Text("a", "2"), Text("c", "3")};
         ks.SetValues("K\\L", list);
       }},
      {"Transact",
       [](KeyStore& ks) {
         ks.Transact([&] {
           ks.SetValue("K", "new", kRegSz, B("x"));
           ks.CreateKey("K\\M\\N");
           ks.DeleteValue("K\\L", "a");
           const NamedValue list[] = {Text("b", "2")};
           ks.ReplaceValues("K\\L", list);
           ks.DeleteKey("K\\Gone");
         });
       }},
  };
  auto arrange = [&] {
    ASSERT_TRUE(ks_->CreateKey("K\\L"));
    ASSERT_TRUE(ks_->CreateKey("K\\Gone"));
    ASSERT_TRUE(ks_->SetValue("K\\L", "a", kRegSz, B("1")));
  };
  auto unchanged = [&](KeyStore& ks) {
    EXPECT_THAT(Names(ks, "K\\L"), ElementsAre("a"));
    EXPECT_THAT(SubKeys(ks, "K"), ElementsAre("Gone", "L"));
    EXPECT_THAT(Names(ks, "K"), ElementsAre());
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    arrange();
    sqlite::FailNthStep(0);
    c.write(*ks_);
    const auto steps = sqlite::StepsCounted();
    ASSERT_GE(steps, 2u);
    for (std::uint64_t k = 1; k <= steps; ++k) {
      Reset();
      arrange();
      sqlite::FailNthStep(k);
      try {
        c.write(*ks_);
        ADD_FAILURE() << "step " << k << ": no failure";
      } catch (const KeyStoreError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Key store failure")) << k;
      }
      sqlite::FailNthStep(0);
      unchanged(*ks_);
      unchanged(*Open());
      // The handle goes on working afterwards.
      EXPECT_TRUE(ks_->SetValue("K", "later", kRegSz, B("1"))) << k;
    }
  }
}

}  // namespace
}  // namespace platform
