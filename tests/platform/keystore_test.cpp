#include "platform/keystore.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "platform/sqlite.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<std::uint8_t> B(std::string_view s) { return {s.begin(), s.end()}; }

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "keystore-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class KeyStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path HiveFile() const { return dir_.path() / "hive.db"; }
  std::unique_ptr<KeyStore> OpenHive() const { return KeyStore::Open(HiveFile()); }

  std::vector<std::string> SubKeys(KeyStore& ks, std::string_view path) {
    std::vector<std::string> out;
    while (auto n = ks.EnumSubKey(path, out.size())) out.push_back(*n);
    return out;
  }
  std::vector<std::string> Values(KeyStore& ks, std::string_view path) {
    std::vector<std::string> out;
    while (auto n = ks.EnumValue(path, out.size())) out.push_back(*n);
    return out;
  }
  void Set(std::string_view path, std::string_view name, std::string_view text) {
    ASSERT_TRUE(ks_->SetValue(path, name, kRegSz, B(text))) << path << " " << name;
  }
  std::optional<std::string> Get(std::string_view path, std::string_view name) {
    auto v = ks_->QueryValue(path, name);
    if (!v) return std::nullopt;
    return std::string(v->data.begin(), v->data.end());
  }

  TempDir dir_;
  std::unique_ptr<KeyStore> ks_ = OpenHive();
};

TEST_F(KeyStoreTest, RootKeyAlwaysExistsAndHoldsValues) {
  EXPECT_TRUE(ks_->KeyExists(""));
  EXPECT_FALSE(ks_->CreateKey(""));
  EXPECT_THROW(ks_->DeleteKey(""), KeyStoreInputError);
  Set("", "", "default of root");
  Set("", "Top", "t");
  EXPECT_EQ(Get("", ""), "default of root");
  EXPECT_EQ(Get("", "top"), "t");
  ASSERT_TRUE(ks_->CreateKey("Software"));
  EXPECT_THAT(SubKeys(*ks_, ""), ElementsAre("Software"));
  EXPECT_THAT(Values(*ks_, ""), ElementsAre("", "Top"));
}

TEST_F(KeyStoreTest, CreateKeyMakesParentsAndReportsCreation) {
  EXPECT_TRUE(ks_->CreateKey("Software\\Quorvane\\Plexisync\\default\\"));
  for (const char* p : {"Software", "Software\\Quorvane", "Software\\Quorvane\\Plexisync",
                        "Software\\Quorvane\\Plexisync\\default"}) {
    EXPECT_TRUE(ks_->KeyExists(p)) << p;
  }
  EXPECT_FALSE(ks_->CreateKey("Software\\Quorvane\\Plexisync\\default"));
  EXPECT_FALSE(ks_->CreateKey("SOFTWARE\\quorvane"));
  EXPECT_TRUE(ks_->CreateKey("Software\\Quorvane\\Other"));
  EXPECT_FALSE(ks_->KeyExists("Software\\Missing"));
}

TEST_F(KeyStoreTest, PathSpellingsNameTheSameKey) {
  ASSERT_TRUE(ks_->CreateKey("Software\\Vendor"));
  Set("Software\\Vendor", "InstDir", "C:\\");
  for (const char* p : {"Software\\Vendor", "Software\\Vendor\\", "software\\VENDOR", "SOFTWARE\\vendor\\"}) {
    EXPECT_TRUE(ks_->KeyExists(p)) << p;
    EXPECT_EQ(Get(p, "instdir"), "C:\\") << p;
    EXPECT_THAT(Values(*ks_, p), ElementsAre("InstDir")) << p;
  }
  EXPECT_THAT(SubKeys(*ks_, "software\\"), ElementsAre("Vendor"));
}

TEST_F(KeyStoreTest, NamesKeepTheSpellingOfTheirCreation) {
  ASSERT_TRUE(ks_->CreateKey("Alpha\\Beta"));
  EXPECT_FALSE(ks_->CreateKey("ALPHA\\beta"));
  ASSERT_TRUE(ks_->CreateKey("alpha\\BETA\\Gamma"));
  EXPECT_THAT(SubKeys(*ks_, ""), ElementsAre("Alpha"));
  EXPECT_THAT(SubKeys(*ks_, "alpha"), ElementsAre("Beta"));
  EXPECT_THAT(SubKeys(*ks_, "ALPHA\\BETA"), ElementsAre("Gamma"));

  Set("Alpha", "MyValue", "1");
  Set("Alpha", "MYVALUE", "2");  // same value: data replaced, name kept
  EXPECT_THAT(Values(*ks_, "Alpha"), ElementsAre("MyValue"));
  EXPECT_EQ(Get("Alpha", "myvalue"), "2");
}

TEST_F(KeyStoreTest, OnlyAsciiLettersFoldAndEveryByteCounts) {
  ASSERT_TRUE(ks_->CreateKey("K"));
  const std::string with_nul("a\0b", 3);
  Set("K", "\xc3\x84", "upper umlaut");  // "Ä"
  Set("K", "\xc3\xa4", "lower umlaut");  // "ä": a different name
  Set("K", "a", "plain");
  Set("K", with_nul, "with nul");
  EXPECT_EQ(Get("K", "\xc3\x84"), "upper umlaut");
  EXPECT_EQ(Get("K", "\xc3\xa4"), "lower umlaut");
  EXPECT_EQ(Get("K", "A"), "plain");
  EXPECT_EQ(Get("K", std::string("A\0B", 3)), "with nul");
  EXPECT_THAT(Values(*ks_, "K"), ElementsAre("\xc3\x84", "\xc3\xa4", "a", with_nul));

  ASSERT_TRUE(ks_->CreateKey(std::string("odd\0key", 7)));
  EXPECT_FALSE(ks_->KeyExists("odd"));
  EXPECT_TRUE(ks_->KeyExists(std::string("ODD\0KEY", 7)));
}

TEST_F(KeyStoreTest, SubKeysEnumerateAlphabeticallyIgnoringCase) {
  for (const char* k : {"b", "C", "aa", "Ab", "a", "_x", "B2", "10", "9"}) {
    ASSERT_TRUE(ks_->CreateKey(std::string("P\\") + k)) << k;
  }
  EXPECT_THAT(SubKeys(*ks_, "P"), ElementsAre("10", "9", "_x", "a", "aa", "Ab", "b", "B2", "C"));
  EXPECT_EQ(ks_->EnumSubKey("P", 9), std::nullopt);
  EXPECT_EQ(ks_->EnumSubKey("P", 1000), std::nullopt);
  EXPECT_EQ(ks_->EnumSubKey("P", 4), "aa");  // any index, in any order
  EXPECT_EQ(ks_->EnumSubKey("P", 0), "10");
}

TEST_F(KeyStoreTest, ValuesEnumerateInCreationOrder) {
  ASSERT_TRUE(ks_->CreateKey("V"));
  for (const char* n : {"zeta", "Alpha", "mid", "beta"}) Set("V", n, "x");
  EXPECT_THAT(Values(*ks_, "V"), ElementsAre("zeta", "Alpha", "mid", "beta"));

  Set("V", "ALPHA", "rewritten");  // an overwrite keeps its place
  EXPECT_THAT(Values(*ks_, "V"), ElementsAre("zeta", "Alpha", "mid", "beta"));

  ASSERT_TRUE(ks_->DeleteValue("V", "Zeta"));  // re-created values go last
  Set("V", "Zeta", "again");
  EXPECT_THAT(Values(*ks_, "V"), ElementsAre("Alpha", "mid", "beta", "Zeta"));

  ASSERT_TRUE(ks_->DeleteValue("V", "beta"));  // also after deleting the last one
  ASSERT_TRUE(ks_->DeleteValue("V", "zeta"));
  Set("V", "beta", "b");
  EXPECT_THAT(Values(*ks_, "V"), ElementsAre("Alpha", "mid", "beta"));
  EXPECT_EQ(ks_->EnumValue("V", 3), std::nullopt);
}

TEST_F(KeyStoreTest, DeleteKeyRemovesLeavesOnly) {
  ASSERT_TRUE(ks_->CreateKey("Root\\Leaf"));
  Set("Root", "kept", "1");
  Set("Root\\Leaf", "gone", "2");

  EXPECT_EQ(ks_->DeleteKey("Root"), DeleteKeyResult::kHasSubKeys);
  EXPECT_TRUE(ks_->KeyExists("Root"));
  EXPECT_EQ(Get("Root", "kept"), "1");

  EXPECT_EQ(ks_->DeleteKey("root\\LEAF\\"), DeleteKeyResult::kDeleted);
  EXPECT_FALSE(ks_->KeyExists("Root\\Leaf"));
  EXPECT_EQ(ks_->DeleteKey("Root\\Leaf"), DeleteKeyResult::kNotFound);
  EXPECT_EQ(ks_->DeleteKey("Nowhere\\Deep"), DeleteKeyResult::kNotFound);

  // The values went with the key: a new key of the same name starts empty.
  ASSERT_TRUE(ks_->CreateKey("Root\\Leaf"));
  EXPECT_EQ(Get("Root\\Leaf", "gone"), std::nullopt);
  EXPECT_THAT(Values(*ks_, "Root\\Leaf"), ElementsAre());

  EXPECT_EQ(ks_->DeleteKey("Root\\Leaf"), DeleteKeyResult::kDeleted);
  EXPECT_EQ(ks_->DeleteKey("Root"), DeleteKeyResult::kDeleted);
  EXPECT_THAT(SubKeys(*ks_, ""), ElementsAre());
}

TEST_F(KeyStoreTest, MissingKeysAndValuesAreNotErrors) {
  EXPECT_FALSE(ks_->SetValue("Missing", "v", kRegSz, B("x")));
  EXPECT_FALSE(ks_->KeyExists("Missing"));  // SetValue does not create keys
  EXPECT_EQ(ks_->QueryValue("Missing", "v"), std::nullopt);
  EXPECT_EQ(ks_->EnumSubKey("Missing", 0), std::nullopt);
  EXPECT_EQ(ks_->EnumValue("Missing", 0), std::nullopt);
  EXPECT_EQ(ks_->MaxValueNameLength("Missing"), 0u);
  EXPECT_FALSE(ks_->DeleteValue("Missing", "v"));
  EXPECT_EQ(ks_->FindValueByData("Missing", kRegSz, B("x")), std::nullopt);

  ASSERT_TRUE(ks_->CreateKey("Present"));
  EXPECT_EQ(ks_->QueryValue("Present", "v"), std::nullopt);
  EXPECT_EQ(ks_->QueryValue("Present", ""), std::nullopt);
  EXPECT_FALSE(ks_->DeleteValue("Present", "v"));
  EXPECT_EQ(ks_->MaxValueNameLength("Present"), 0u);
}

TEST_F(KeyStoreTest, EveryValueTypeKeepsItsExactBytes) {
  std::vector<std::uint8_t> big(200000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const struct {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {kRegSz, B(std::string("text\0", 5))},
      {kRegSz, B(std::string("\0", 1))},
      {kRegExpandSz, B(std::string("%PATH%\\bin\0", 11))},
      {kRegBinary, {0x00, 0xFF, 0x00, 0x9D, 0x9E}},
      {kRegBinary, {}},
      {kRegBinary, big},
      {kRegDword, {0x78, 0x56, 0x34, 0x12}},
      {kRegDwordBigEndian, {0x12, 0x34, 0x56, 0x78}},
      {kRegMultiSz, B(std::string("one\0two\0\0", 9))},
      {kRegNone, {}},
      {0xFFFFFFFFu, {1, 2, 3}},
  };
  ASSERT_TRUE(ks_->CreateKey("Types"));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(ks_->SetValue("Types", "v" + std::to_string(i), cases[i].type, cases[i].data));
  }
  auto check = [&](KeyStore& ks) {
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      auto v = ks.QueryValue("Types", "v" + std::to_string(i));
      ASSERT_TRUE(v) << i;
      EXPECT_EQ(v->type, cases[i].type) << i;
      EXPECT_EQ(v->data, cases[i].data) << i;
    }
  };
  check(*ks_);
  ks_.reset();
  check(*OpenHive());

  // Rewriting changes type and bytes together.
  auto ks = OpenHive();
  ASSERT_TRUE(ks->SetValue("Types", "v0", kRegDword, std::vector<std::uint8_t>{1, 0, 0, 0}));
  auto v = ks->QueryValue("Types", "V0");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, kRegDword);
  EXPECT_THAT(v->data, ElementsAre(1, 0, 0, 0));
}

TEST_F(KeyStoreTest, EverythingPersistsAcrossReopening) {
  ASSERT_TRUE(ks_->CreateKey("A\\B"));
  ASSERT_TRUE(ks_->CreateKey("A\\a2"));
  ASSERT_TRUE(ks_->CreateKey("Gone"));
  Set("A", "second", "2");
  Set("A", "First", "1");
  ASSERT_EQ(ks_->DeleteKey("Gone"), DeleteKeyResult::kDeleted);
  ks_.reset();

  auto ks = OpenHive();
  EXPECT_THAT(SubKeys(*ks, ""), ElementsAre("A"));
  EXPECT_THAT(SubKeys(*ks, "a"), ElementsAre("a2", "B"));
  EXPECT_THAT(Values(*ks, "A"), ElementsAre("second", "First"));
  EXPECT_EQ(ks->QueryValue("A", "first")->data, B("1"));
  // Order continues after reopening: a new value goes last.
  ASSERT_TRUE(ks->SetValue("A", "third", kRegSz, B("3")));
  EXPECT_THAT(Values(*ks, "A"), ElementsAre("second", "First", "third"));
}

TEST_F(KeyStoreTest, ASoleUserHandleReadsWritesAndLeavesAFileOthersOpenAfterIt) {
  ks_.reset();
  {
    auto sole = KeyStore::Open(HiveFile(), KeyStore::Sharing::kSoleUser);
    ASSERT_TRUE(sole->CreateKey("A"));
    ASSERT_TRUE(sole->SetValue("A", "v", kRegSz, B("1")));
    EXPECT_EQ(sole->QueryValue("A", "v")->data, B("1"));
    const std::vector<std::vector<std::uint8_t>> forms{B("1")};
    EXPECT_EQ(sole->FindFirstValue("A", kRegSz, forms, [](const RegValue&) { return false; }), "v");
  }
  // Once it is closed, the file is everybody's again.
  auto shared = OpenHive();
  EXPECT_EQ(shared->QueryValue("A", "v")->data, B("1"));
  shared.reset();
  auto second = KeyStore::Open(HiveFile(), KeyStore::Sharing::kSoleUser);
  EXPECT_THAT(Values(*second, "A"), ElementsAre("v"));
}

TEST_F(KeyStoreTest, MalformedPathsAreRefusedNamingTheInput) {
  const std::string long_name(256, 'k');
  const std::string long_utf8 = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s += "\xc3\xa9";  // 256 characters "é"
    return s;
  }();
  const struct {
    std::string path;
    std::string shown;  // part of the message
  } cases[] = {
      {"\\", "\"\\\""},
      {"\\Software", "\"\\Software\""},
      {"Software\\\\Vendor", "\"Software\\\\Vendor\""},
      {"Software\\\\", "\"Software\\\\\""},
      {"Software\\" + long_name, "kkkkkkkk"},
      {long_utf8 + "\\x", "\xc3\xa9\xc3\xa9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40));
    const std::vector<std::function<void()>> calls = {
        [&] { ks_->KeyExists(c.path); },
        [&] { ks_->CreateKey(c.path); },
        [&] { ks_->QueryValue(c.path, "v"); },
        [&] { ks_->SetValue(c.path, "v", kRegSz, B("x")); },
        [&] { ks_->EnumSubKey(c.path, 0); },
        [&] { ks_->EnumValue(c.path, 0); },
        [&] { ks_->MaxValueNameLength(c.path); },
        [&] { ks_->DeleteKey(c.path); },
        [&] { ks_->DeleteValue(c.path, "v"); },
        [&] { ks_->FindValueByData(c.path, kRegSz, B("x")); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
      try {
        calls[i]();
        ADD_FAILURE() << "call " << i << " accepted the path";
      } catch (const KeyStoreInputError& e) {
        EXPECT_THAT(e.what(), HasSubstr(c.shown)) << "call " << i;
      }
    }
  }
  EXPECT_THAT(SubKeys(*ks_, ""), ElementsAre());  // nothing was created
}

TEST_F(KeyStoreTest, NameLengthLimitsCountCharacters) {
  const std::string key255(255, 'k');
  std::string key255_utf8;
  for (int i = 0; i < 255; ++i) key255_utf8 += "\xc3\xa9";
  EXPECT_TRUE(ks_->CreateKey(key255));
  EXPECT_TRUE(ks_->CreateKey(key255_utf8 + "\\" + key255));

  const std::string value_max(KeyStore::kMaxValueNameLength, 'v');
  const std::string value_over(KeyStore::kMaxValueNameLength + 1, 'v');
  ASSERT_TRUE(ks_->SetValue(key255, value_max, kRegSz, B("x")));
  EXPECT_EQ(ks_->MaxValueNameLength(key255), KeyStore::kMaxValueNameLength);
  EXPECT_THROW(ks_->SetValue(key255, value_over, kRegSz, B("x")), KeyStoreInputError);
  EXPECT_THROW(ks_->QueryValue(key255, value_over), KeyStoreInputError);
  EXPECT_THROW(ks_->DeleteValue(key255, value_over), KeyStoreInputError);
  try {
    ks_->SetValue(key255, value_over, kRegSz, B("x"));
  } catch (const KeyStoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr("value name \"vvvv"));
    EXPECT_LT(std::string_view(e.what()).size(), 300u);  // a long input is cut in the message
  }
}

TEST_F(KeyStoreTest, MaxValueNameLengthIsTheLongestNameInCharacters) {
  ASSERT_TRUE(ks_->CreateKey("M"));
  Set("M", "", "default");
  EXPECT_EQ(ks_->MaxValueNameLength("M"), 0u);
  Set("M", "abc", "x");
  Set("M", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "x");  // 4 characters, 8 bytes
  EXPECT_EQ(ks_->MaxValueNameLength("m"), 4u);
  Set("M", "abcdefg", "x");
  EXPECT_EQ(ks_->MaxValueNameLength("M\\"), 7u);
}

TEST_F(KeyStoreTest, EnumerationSeesWritesThroughTheSameHandle) {
  ASSERT_TRUE(ks_->CreateKey("E\\k1"));
  Set("E", "v1", "1");
  Set("E", "v2", "2");
  ASSERT_EQ(ks_->EnumValue("E", 0), "v1");  // listing now cached
  ASSERT_EQ(ks_->EnumSubKey("E", 0), "k1");

  Set("E", "v3", "3");
  EXPECT_EQ(ks_->EnumValue("E", 2), "v3");
  ASSERT_TRUE(ks_->DeleteValue("E", "v1"));
  EXPECT_EQ(ks_->EnumValue("E", 0), "v2");
  EXPECT_EQ(ks_->EnumValue("E", 2), std::nullopt);

  ASSERT_TRUE(ks_->CreateKey("E\\k0"));
  EXPECT_EQ(ks_->EnumSubKey("E", 0), "k0");
  ASSERT_EQ(ks_->DeleteKey("E\\k0"), DeleteKeyResult::kDeleted);
  EXPECT_EQ(ks_->EnumSubKey("E", 0), "k1");
  EXPECT_EQ(ks_->EnumSubKey("E", 1), std::nullopt);
}

TEST_F(KeyStoreTest, SecondHandleSeesChangesEvenInACachedListing) {
  auto other = OpenHive();
  ASSERT_TRUE(ks_->CreateKey("Shared\\b"));
  Set("Shared", "one", "1");
  Set("Shared", "two", "2");

  EXPECT_TRUE(other->KeyExists("shared\\B"));
  EXPECT_EQ(other->QueryValue("Shared", "TWO")->data, B("2"));
  ASSERT_EQ(other->EnumValue("Shared", 0), "one");
  ASSERT_EQ(other->EnumSubKey("Shared", 0), "b");

  // Writes through the first handle while the second is mid-walk.
  ASSERT_TRUE(ks_->DeleteValue("Shared", "one"));
  Set("Shared", "three", "3");
  ASSERT_TRUE(ks_->CreateKey("Shared\\a"));
  EXPECT_EQ(other->EnumValue("Shared", 0), "two");
  EXPECT_EQ(other->EnumValue("Shared", 1), "three");
  EXPECT_EQ(other->EnumValue("Shared", 2), std::nullopt);
  EXPECT_EQ(other->EnumSubKey("Shared", 0), "a");
  EXPECT_EQ(other->EnumSubKey("Shared", 1), "b");
  EXPECT_EQ(other->MaxValueNameLength("Shared"), 5u);

  // And the other way round.
  ASSERT_TRUE(other->SetValue("Shared", "four", kRegSz, B("4")));
  EXPECT_THAT(Values(*ks_, "Shared"), ElementsAre("two", "three", "four"));
  ASSERT_EQ(other->DeleteKey("Shared\\a"), DeleteKeyResult::kDeleted);
  EXPECT_THAT(SubKeys(*ks_, "Shared"), ElementsAre("b"));
}

TEST_F(KeyStoreTest, FindValueByDataGivesTheFirstInEnumerationOrder) {
  ASSERT_TRUE(ks_->CreateKey("Map"));
  Set("Map", "z-late", "other");
  Set("Map", "m-first", "corr");
  Set("Map", "a-second", "corr");
  ASSERT_TRUE(ks_->SetValue("Map", "binary", kRegBinary, B("corr")));
  ASSERT_TRUE(ks_->SetValue("Map", "empty", kRegBinary, {}));

  EXPECT_EQ(ks_->FindValueByData("map", kRegSz, B("corr")), "m-first");
  EXPECT_EQ(ks_->FindValueByData("Map", kRegBinary, B("corr")), "binary");  // type must match
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("cor")), std::nullopt);   // bytes must match
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("CORR")), std::nullopt);  // data is not folded
  EXPECT_EQ(ks_->FindValueByData("Map", kRegBinary, {}), "empty");
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, {}), std::nullopt);

  Set("Map", "m-first", "corr");  // an overwrite keeps the place
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("corr")), "m-first");
  ASSERT_TRUE(ks_->DeleteValue("Map", "m-first"));  // a re-created value goes last
  Set("Map", "m-first", "corr");
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("corr")), "a-second");
  Set("Map", "a-second", "changed");
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("corr")), "m-first");

  // Only the key's own values are searched.
  ASSERT_TRUE(ks_->CreateKey("Map\\Child"));
  Set("Map\\Child", "inner", "child-only");
  EXPECT_EQ(ks_->FindValueByData("Map", kRegSz, B("child-only")), std::nullopt);
}

TEST_F(KeyStoreTest, OpeningSomethingThatIsNoHiveFails) {
  const auto junk = dir_.path() / "junk.db";
  std::ofstream(junk) << std::string(4096, 'x');
  try {
    KeyStore::Open(junk);
    ADD_FAILURE() << "opened a file that is not a hive";
  } catch (const KeyStoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr(junk.string()));
  }
  const auto nowhere = dir_.path() / "missing" / "hive.db";
  try {
    KeyStore::Open(nowhere);
    ADD_FAILURE() << "opened a hive in a missing folder";
  } catch (const KeyStoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr(nowhere.string()));
  }
}

// The names in a folder.
std::set<std::string> Listing(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::string FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A hive file that is there but cannot be read whole is damage: it is
// refused on opening with one line naming it, never taken for a new, empty
// hive, and left as it was.
TEST_F(KeyStoreTest, AnExistingHiveThatCannotBeReadWholeIsRefusedAsDamaged) {
  // A hive of some pages, closed.
  ASSERT_TRUE(ks_->CreateKey("Software\\Many"));
  for (int i = 0; i < 400; ++i) Set("Software\\Many", "value-" + std::to_string(i), std::string(60, 'v'));
  ks_.reset();
  const std::string hive = FileBytes(HiveFile());
  ASSERT_GT(hive.size(), 10u * 1024);
  auto raw = [&](const char* sql) {
    const auto file = dir_.path() / "raw.db";
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::string bytes = FileBytes(file);
    std::filesystem::remove(file);
    return bytes;
  };
  std::string overwritten = hive;
  for (std::size_t i = 4 * 1024; i < 6 * 1024; ++i) overwritten[i] = static_cast<char>(i * 7919 % 251);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"zero-bytes", ""},
      {"database-without-tables", raw("PRAGMA journal_mode=WAL; CREATE TABLE t(x); DROP TABLE t;")},
      {"pages-overwritten", overwritten},
      {"cut-in-half", hive.substr(0, hive.size() / 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir_.path() / (std::string(c.name) + ".db");
    std::ofstream(file, std::ios::binary) << c.bytes;
    const auto before = Listing(dir_.path());
    try {
      KeyStore::Open(file);
      ADD_FAILURE() << "opened as a hive";
    } catch (const KeyStoreError& e) {
      EXPECT_THAT(e.what(), HasSubstr("The key store " + file.string() + " is damaged and cannot be read: "));
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
    }
    EXPECT_TRUE(FileBytes(file) == c.bytes) << "the file was changed";
    EXPECT_EQ(Listing(dir_.path()), before) << "files were left beside it";
  }
}

// New hives are made whole under another name and then put in place: no
// file of another name is left behind, the hive is in log (WAL) mode from
// the start, and processes creating the same hive at once all end up using
// the one that came first.
TEST_F(KeyStoreTest, ProcessesCreatingOneHiveAtOnceShareTheFirstOne) {
  ks_.reset();  // no connection may be carried across fork()
  const auto file = dir_.path() / "new.db";
  constexpr int kProcesses = 4;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)::read(gate[0], &c, 1);  // all start when the gate closes
      int rc = 0;
      try {
        auto ks = KeyStore::Open(file);
        if (!ks->SetValue("", "by-" + std::to_string(i), kRegSz, B("x"))) rc = 3;
      } catch (...) {
        rc = 2;
      }
      ::_exit(rc);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"hive.db", "new.db"}));
  const std::string head = FileBytes(file).substr(0, 20);
  ASSERT_EQ(head.size(), 20u);
  EXPECT_EQ(head[18], 2) << "not in log mode";
  auto ks = KeyStore::Open(file);
  EXPECT_EQ(Values(*ks, "").size(), static_cast<std::size_t>(kProcesses));
}

// Runs `body` in a child process and returns its exit status.
int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = body();
    } catch (...) {
      rc = 2;
    }
    ::_exit(rc);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST_F(KeyStoreTest, TwoProcessesWriteOneHiveWithoutLosingAnything) {
  ASSERT_TRUE(ks_->CreateKey("Both"));
  constexpr int kEach = 300;
  // No connection may be carried across fork(): close, fork, reopen.
  ks_.reset();
  const pid_t pid = ::fork();
  if (pid == 0) {
    int rc = 0;
    try {
      auto mine = OpenHive();
      for (int i = 0; i < kEach; ++i) {
        mine->CreateKey("Both\\child" + std::to_string(i % 7));
        if (!mine->SetValue("Both", "child-" + std::to_string(i), kRegSz, B("c"))) rc = 3;
      }
    } catch (...) {
      rc = 2;
    }
    ::_exit(rc);
  }
  ks_ = OpenHive();
  for (int i = 0; i < kEach; ++i) {
    ks_->CreateKey("Both\\parent" + std::to_string(i % 5));
    ASSERT_TRUE(ks_->SetValue("Both", "parent-" + std::to_string(i), kRegSz, B("p")));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(Values(*ks_, "Both").size(), 2u * kEach);
  EXPECT_EQ(SubKeys(*ks_, "Both").size(), 12u);
  EXPECT_EQ(Get("Both", "child-299"), "c");
  EXPECT_EQ(Get("Both", "parent-299"), "p");
}

TEST_F(KeyStoreTest, CommittedWritesSurviveACrash) {
  ks_.reset();  // no connection may be carried across fork()
  const int status = InChild([&]() -> int {
    auto ks = OpenHive();
    ks->CreateKey("Crash");
    for (int i = 0; i < 50; ++i) ks->SetValue("Crash", "v" + std::to_string(i), kRegSz, B("x"));
    std::abort();  // no orderly close, no checkpoint
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  auto ks = OpenHive();
  EXPECT_EQ(Values(*ks, "Crash").size(), 50u);
  EXPECT_EQ(ks->QueryValue("Crash", "v49")->data, B("x"));
}

TEST(ExpandEnvironmentStrings, ReplacesKnownNamesOnly) {
  const std::map<std::string, std::string, std::less<>> env = {
      {"HOME", "/home/u"}, {"A", "1"}, {"EMPTY", ""}, {"PCT", "%A%"}};
  auto lookup = [&](std::string_view name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"no references", "no references"},
      {"%HOME%\\bin", "/home/u\\bin"},
      {"x%A%y%A%z", "x1y1z"},
      {"%A%%A%", "11"},
      {"[%EMPTY%]", "[]"},
      {"%UNKNOWN%", "%UNKNOWN%"},
      {"%UNKNOWN%A%", "%UNKNOWN%A%"},
      {"%UNKNOWN%%A%", "%UNKNOWN%1"},
      {"100%", "100%"},
      {"%", "%"},
      {"%%", "%%"},
      {"50% of %A%", "50% of %A%"},  // " of " is an unknown name, then a lone "%"
      {"%A", "%A"},
      {"%PCT%", "%A%"},  // values are not expanded again
      {"%home%", "%home%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandEnvironmentStrings(c.in, lookup), c.out) << c.in;
  }
}

TEST(ExpandEnvironmentStrings, UsesTheProcessEnvironmentByDefault) {
  ::setenv("KEYSTORE_TEST_VAR", "C:\\Program Files", 1);
  ::unsetenv("KEYSTORE_TEST_UNSET");
  EXPECT_EQ(ExpandEnvironmentStrings("%KEYSTORE_TEST_VAR%\\x"), "C:\\Program Files\\x");
  EXPECT_EQ(ExpandEnvironmentStrings("%KEYSTORE_TEST_UNSET%"), "%KEYSTORE_TEST_UNSET%");
  EXPECT_EQ(ExpandEnvironmentStrings(std::string("%A\0B%", 5)), std::string("%A\0B%", 5));
  EXPECT_EQ(ExpandEnvironmentStrings("%A=B%"), "%A=B%");
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST_F(KeyStoreTest, FindFirstValueVisitsOnlyOtherTypesBeforeTheIndexedMatch) {
  ASSERT_TRUE(ks_->CreateKey("Map"));
  ASSERT_TRUE(ks_->SetValue("Map", "before", kRegExpandSz, B("x")));
  Set("Map", "plain", "corr");
  ASSERT_TRUE(ks_->SetValue("Map", "after", kRegBinary, B("corr")));
  const std::vector<std::vector<std::uint8_t>> forms{B("corr")};

  std::vector<std::uint32_t> visited;
  auto visit = [&](bool accept) {
    return [&visited, accept](const RegValue& v) {
      visited.push_back(v.type);
      return accept;
    };
  };
  // The indexed match wins unless a value of another type before it is accepted.
  EXPECT_EQ(ks_->FindFirstValue("Map", kRegSz, forms, visit(false)), "plain");
  EXPECT_EQ(visited, (std::vector<std::uint32_t>{kRegExpandSz}));
  visited.clear();
  EXPECT_EQ(ks_->FindFirstValue("Map", kRegSz, forms, visit(true)), "before");
  // Without an indexed match every value of another type is a candidate, in order.
  visited.clear();
  const std::vector<std::vector<std::uint8_t>> none{B("nothing")};
  EXPECT_EQ(ks_->FindFirstValue("Map", kRegSz, none, visit(false)), std::nullopt);
  EXPECT_EQ(visited, (std::vector<std::uint32_t>{kRegExpandSz, kRegBinary}));
  EXPECT_EQ(ks_->FindFirstValue("Missing", kRegSz, forms, visit(true)), std::nullopt);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// FindFirstValue against a walk over the key's values in enumeration order,
// over random keys with values of several types, overwrites, removals, and
// from none to three byte strings per look-up.
TEST_F(KeyStoreTest, FindFirstValueAgreesWithAWalkInEnumerationOrder) {
  std::mt19937 random(97);
  const std::vector<std::vector<std::uint8_t>> datas = {B("a"), B(std::string("a\0", 2)), B("b"), B(""),
                                                        B(std::string("b\0", 2)), B("c")};
  const std::uint32_t types[] = {kRegNone, kRegSz, kRegExpandSz, kRegBinary, kRegDword};
  ASSERT_TRUE(ks_->CreateKey("K"));
  ASSERT_TRUE(ks_->CreateKey("K\\Sub"));
  for (int round = 0; round < 300; ++round) {
    const std::string name = "v" + std::to_string(random() % 12);
    if (random() % 5 == 0) {
      ks_->DeleteValue("K", name);
    } else {
      ASSERT_TRUE(ks_->SetValue("K", name, types[random() % std::size(types)], datas[random() % datas.size()]));
    }
    // Another key's values never count.
    ks_->SetValue("K\\Sub", name, kRegSz, datas[random() % datas.size()]);

    std::vector<std::vector<std::uint8_t>> forms;
    const std::size_t count = random() % 4;
    for (std::size_t i = 0; i < count; ++i) forms.push_back(datas[random() % datas.size()]);
    const std::uint32_t type = types[random() % std::size(types)];
    const std::vector<std::uint8_t> accepted = datas[random() % datas.size()];
    std::vector<std::string> visited;
    auto other = [&](const RegValue& v) {
      visited.push_back(std::to_string(v.type));
      return v.data == accepted;
    };

    std::optional<std::string> expected;
    std::vector<std::string> expectedVisits;
    for (const auto& n : Values(*ks_, "K")) {
      const auto v = ks_->QueryValue("K", n);
      ASSERT_TRUE(v);
      if (v->type == type) {
        if (std::find(forms.begin(), forms.end(), v->data) != forms.end()) {
          expected = n;
          break;
        }
        continue;
      }
      expectedVisits.push_back(std::to_string(v->type));
      if (v->data == accepted) {
        expected = n;
        break;
      }
    }
    ASSERT_EQ(ks_->FindFirstValue("K", type, forms, other), expected) << "round " << round;
    ASSERT_EQ(visited, expectedVisits) << "round " << round;
  }
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// A failure at any step of a write (the database refusing it midway) is a
// KeyStoreError, and the write leaves nothing behind: a deep CreateKey
// creates all of its keys or none.
TEST_F(KeyStoreTest, AWriteFailingAtAnyStepLeavesNothing) {
  const struct {
    const char* name;
    std::function<void(KeyStore&)> write;
    std::function<void(KeyStore&)> expectUnchanged;
  } cases[] = {
      {"CreateKey", [](KeyStore& ks) { ks.CreateKey("A\\B\\C\\D"); },
       [](KeyStore& ks) { EXPECT_FALSE(ks.KeyExists("A\\B")); }},
      {"DeleteKey", [](KeyStore& ks) { ks.DeleteKey("Kept\\Leaf"); },
       [](KeyStore& ks) {
         EXPECT_TRUE(ks.KeyExists("Kept\\Leaf"));
         EXPECT_TRUE(ks.QueryValue("Kept\\Leaf", "v"));
       }},
      {"SetValue", [](KeyStore& ks) { ks.SetValue("Kept", "new", kRegSz, B("x")); },
       [](KeyStore& ks) { EXPECT_FALSE(ks.QueryValue("Kept", "new")); }},
  };
  ASSERT_TRUE(ks_->CreateKey("Kept\\Leaf"));
  Set("Kept\\Leaf", "v", "1");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sqlite::FailNthStep(0);
    c.write(*ks_);
    const std::uint64_t steps = sqlite::StepsCounted();
    // A fresh hive in the state before the write for the failing runs.
    ks_.reset();
    std::filesystem::remove(HiveFile());
    ks_ = OpenHive();
    ASSERT_TRUE(ks_->CreateKey("Kept\\Leaf"));
    Set("Kept\\Leaf", "v", "1");
    ASSERT_GE(steps, 1u);
    for (std::uint64_t k = 1; k <= steps; ++k) {
      sqlite::FailNthStep(k);
      try {
        c.write(*ks_);
        ADD_FAILURE() << "step " << k << ": no failure";
      } catch (const KeyStoreError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Key store failure")) << k;
        EXPECT_THAT(e.what(), HasSubstr(sqlite::kInjectedFailure)) << k;
      }
      sqlite::FailNthStep(0);
      c.expectUnchanged(*ks_);
      c.expectUnchanged(*OpenHive());
    }
  }
}

}  // namespace
}  // namespace platform
