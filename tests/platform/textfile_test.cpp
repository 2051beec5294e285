#include "platform/textfile.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

using ::testing::ElementsAre;

class TextFileTest : public ::testing::Test {
 protected:
  TextFileTest() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "textfile-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
  }
  ~TextFileTest() override {
    // Folders a test made read-only are opened up again so they can go.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    std::filesystem::remove_all(dir_, ec);
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path dir_;
};

TEST_F(TextFileTest, WriteReplacesTheWholeFile) {
  // The durable writer and the one for short-lived files replace alike.
  for (auto write : {&WriteTextFile, &WriteScratchFile}) {
    const auto file = dir_ / "body.pxs";
    write(file, "a long first content\r\n");
    write(file, "short");
    EXPECT_EQ(ReadTextFile(file), "short");
    EXPECT_THAT(Listing(), ElementsAre("body.pxs"));  // no temporary file left over
    std::filesystem::remove(file);
  }
}

TEST_F(TextFileTest, AppendAddsToTheEndAndCreatesTheFile) {
  const auto file = dir_ / "errors.log";
  AppendTextFile(file, "line 1\r\n");
  AppendTextFile(file, "line 2\r\n");
  EXPECT_EQ(ReadTextFile(file), "line 1\r\nline 2\r\n");
  WriteTextFile(file, "fresh");
  AppendTextFile(file, "+more");
  EXPECT_EQ(ReadTextFile(file), "fresh+more");
}

TEST_F(TextFileTest, BytesRoundTripUnchanged) {
  const std::string text = std::string("crlf\r\nlf\nnul\0end", 16) + "\x9d" "me@x.org" "\x9e" + "\xc4\x85";
  const auto file = dir_ / "rec.pxs";
  WriteTextFile(file, text);
  EXPECT_EQ(ReadTextFile(file), text);
  std::string big(3 * 65536 + 17, 'x');
  WriteTextFile(file, big);
  EXPECT_EQ(ReadTextFile(file), big);
}

TEST_F(TextFileTest, EmptyTextMakesAnEmptyFile) {
  const auto written = dir_ / "written.txt";
  const auto appended = dir_ / "appended.txt";
  WriteTextFile(written, "");
  AppendTextFile(appended, "");
  for (const auto& f : {written, appended}) {
    EXPECT_TRUE(FileExists(f)) << f;
    EXPECT_EQ(std::filesystem::file_size(f), 0u) << f;
    EXPECT_EQ(ReadTextFile(f), "") << f;
  }
}

TEST_F(TextFileTest, MissingFolderErrorNamesThePath) {
  const auto file = dir_ / "no" / "such" / "errors.log";
  const std::vector<std::function<void()>> calls = {
      [&] { WriteTextFile(file, "x"); },
      [&] { AppendTextFile(file, "x"); },
      [&] { ReadTextFile(file); },
  };
  for (std::size_t i = 0; i < calls.size(); ++i) {
    try {
      calls[i]();
      ADD_FAILURE() << "call " << i << " succeeded";
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()), "Path not found: " + file.string()) << i;
      EXPECT_EQ(e.path(), file);
      EXPECT_EQ(e.reason(), "Path not found");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
}

TEST_F(TextFileTest, MissingFileInAnExistingFolder) {
  const auto file = dir_ / "rec.pxs";
  try {
    ReadTextFile(file);
    ADD_FAILURE() << "read a missing file";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "File not found: " + file.string());
  }
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_FALSE(DeleteFile(dir_ / "no" / "such.txt"));
}

TEST_F(TextFileTest, FoldersAreNotFiles) {
  const auto sub = dir_ / "sub";
  std::filesystem::create_directory(sub);
  EXPECT_FALSE(FileExists(sub));
  for (const std::function<void()>& call : std::vector<std::function<void()>>{
           [&] { WriteTextFile(sub, "x"); },
           [&] { AppendTextFile(sub, "x"); },
           [&] { ReadTextFile(sub); },
           [&] { DeleteFile(sub); },
       }) {
    try {
      call();
      ADD_FAILURE() << "a folder was used as a file";
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()), "Is a directory: " + sub.string());
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(sub));
  EXPECT_THROW(WriteTextFile(dir_.string() + "/", "x"), FileError);
}

TEST_F(TextFileTest, ExistsAndDelete) {
  const std::string file = (dir_ / "Update.exe").string();  // plain strings work as paths
  EXPECT_FALSE(FileExists(file));
  WriteTextFile(file, "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(DeleteFile(file.c_str()));
}

TEST_F(TextFileTest, ReplacementKeepsThePermissions) {
  const auto file = dir_ / "body.pxs";
  WriteTextFile(file, "old");
  ::chmod(file.c_str(), 0640);
  WriteTextFile(file, "new");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(TextFileTest, ReplacementWritesThroughASymbolicLink) {
  const auto real = dir_ / "real.txt";
  const auto link = dir_ / "link.txt";
  WriteTextFile(real, "old");
  std::filesystem::create_symlink(real, link);
  WriteTextFile(link, "new");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadTextFile(real), "new");
  EXPECT_THAT(Listing(), ElementsAre("link.txt", "real.txt"));
}

TEST_F(TextFileTest, UnwritableFolderIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const auto locked = dir_ / "locked";
  std::filesystem::create_directory(locked);
  const auto existing = locked / "existing.txt";
  WriteTextFile(existing, "old");
  ::chmod(locked.c_str(), 0555);

  const auto file = locked / "new.txt";
  try {
    WriteTextFile(file, "x");
    ADD_FAILURE() << "wrote into a read-only folder";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Permission denied: " + file.string());
  }
  // A writable file in that folder is still replaced, in place.
  WriteTextFile(existing, "new");
  EXPECT_EQ(ReadTextFile(existing), "new");
}

}  // namespace
}  // namespace platform
