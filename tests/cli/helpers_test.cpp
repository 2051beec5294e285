// The program's small pieces: profile locations, folder paths, property
// assignments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/environment.hpp"
#include "cli/errors.hpp"
#include "cli/folder_paths.hpp"
#include "cli/properties.hpp"
#include "cli/terminal_text.hpp"
#include "cli_fixture.hpp"
#include "host/contact_properties.hpp"

namespace cli::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(EnvironmentTest, ProfileNamesAndPaths) {
  const std::filesystem::path home = "/data/px";
  EXPECT_EQ(ProfileDir("alice", home), home / "alice");
  EXPECT_EQ(ProfileDir("./alice", home), std::filesystem::path("./alice"));
  EXPECT_EQ(ProfileDir("/tmp/p/alice", home), std::filesystem::path("/tmp/p/alice"));
  for (const char* bad : {"", ".", ".."}) EXPECT_THROW(ProfileDir(bad, home), CliError) << bad;
  EXPECT_EQ(DefaultPostOffice(home), home / "postoffice");
}

TEST(EnvironmentTest, HomeAndDefaultProfileComeFromTheEnvironment) {
  ::setenv("PLEXISYNC_HOME", "/somewhere/else", 1);
  ::setenv("PLEXISYNC_PROFILE", "work", 1);
  EXPECT_EQ(PlexisyncHome(), std::filesystem::path("/somewhere/else"));
  EXPECT_EQ(DefaultProfileName(), "work");
  ::unsetenv("PLEXISYNC_HOME");
  ::unsetenv("PLEXISYNC_PROFILE");
  const char* realHome = std::getenv("HOME");
  const std::string saved = realHome ? realHome : "";
  ::setenv("HOME", "/home/tester", 1);
  EXPECT_EQ(PlexisyncHome(), std::filesystem::path("/home/tester/.local/share/plexisync"));
  EXPECT_EQ(DefaultProfileName(), "default");
  if (realHome) {
    ::setenv("HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
}

TEST(FolderPathTest, SplitDropsEmptyNames) {
  EXPECT_THAT(SplitFolderPath("Contacts/Team"), ElementsAre("Contacts", "Team"));
  EXPECT_THAT(SplitFolderPath("/Contacts//Team/"), ElementsAre("Contacts", "Team"));
  EXPECT_THAT(SplitFolderPath("Name with spaces"), ElementsAre("Name with spaces"));
  EXPECT_THROW(SplitFolderPath(""), CliError);
  EXPECT_THROW(SplitFolderPath("//"), CliError);
}

TEST(FolderPathTest, EscapesWriteEveryNameAndReadBack) {
  const struct {
    std::string name;
    std::string written;
  } cases[] = {
      {"Team", "Team"},
      {"a/b", "a\\/b"},
      {"a\\b", "a\\b"},  // a backslash before another character stays as it is
      {"a\\/b", "a\\\\\\/b"},
      {"a\\", "a\\\\"},  // at the end it would run into the separator
      {"\\\\", "\\\\\\\\"},
      {"//", "\\/\\/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EscapeFolderName(c.name), c.written);
    EXPECT_THAT(SplitFolderPath("Contacts/" + c.written + "/x"), ElementsAre("Contacts", c.name, "x"));
    EXPECT_THAT(SplitFolderPath(c.written), ElementsAre(c.name));
  }
  // Paths that hold no escape read as before: a backslash before any other
  // character, or at the very end, is a backslash.
  EXPECT_THAT(SplitFolderPath("Dept\\Sales/Team\\"), ElementsAre("Dept\\Sales", "Team\\"));
}

TEST(PropertyAssignmentTest, ValuesAreReadByTheirType) {
  const auto& schema = host::ContactSchema();
  struct Case {
    const char* text;
    const char* name;
    host::Variant value;
  };
  const std::vector<Case> cases = {
      {"FullName=Bob Brown", "FullName", std::string("Bob Brown")},
      {"fullname=a=b", "FullName", std::string("a=b")},  // names are matched without case; split at the first "="
      {"Body=", "Body", std::string()},
      {"Gender=2", "Gender", std::int32_t{2}},
      {"Journal=True", "Journal", true},
      {"Birthday=6/15/1990", "Birthday", platform::DateTime::FromParts(1990, 6, 15)},
      {"Anniversary=6/15/2026 3:04:05 PM", "Anniversary", platform::DateTime::FromParts(2026, 6, 15, 15, 4, 5)},
  };
  for (const auto& c : cases) {
    Assignment a = ParseAssignment(schema, c.text);
    EXPECT_EQ(a.def->name, c.name) << c.text;
    EXPECT_EQ(a.value, c.value) << c.text;
  }
}

TEST(PropertyAssignmentTest, BadAssignmentsAreRefusedWithTheReason) {
  const auto& schema = host::ContactSchema();
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"NoSuchThing=1", "unknown contact property: NoSuchThing"},
      {"=x", "missing property name"},
      {"FullName", "expected Property=Value"},
      {"Gender=two", "malformed value for Gender (a whole number)"},
      {"Gender=99999999999", "malformed value for Gender"},
      {"Birthday=1990-06-15", "malformed value for Birthday"},
      {"Journal=perhaps", "malformed value for Journal (True or False)"},
      {"LastModificationTime=6/15/2026", "read-only contact property: LastModificationTime"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseAssignment(schema, text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const CliError& e) {
      EXPECT_THAT(e.what(), HasSubstr(message)) << text;
    }
  }
}

TEST(TerminalTextTest, ControlCharactersAreShownAsQuestionMarks) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      // text, Printable, PrintableLine
      {"plain text", "plain text", "plain text"},
      {"two\nlines\tand tab", "two\nlines\tand tab", "two lines and tab"},
      {"\x1b[31mred\x1b[0m", "?[31mred?[0m", "?[31mred?[0m"},
      {"bell\x07 del\x7f cr\r", "bell? del? cr?", "bell? del? cr?"},
      {"csi \xC2\x9B" "2J", "csi ?2J", "csi ?2J"},
      {"Gr\xC3\xBC\xC3\x9F" "e \xC2\xA0" "nbsp", "Gr\xC3\xBC\xC3\x9F" "e \xC2\xA0" "nbsp", "Gr\xC3\xBC\xC3\x9F" "e \xC2\xA0" "nbsp"},
      {"end \xC2", "end \xC2", "end \xC2"},
  };
  for (const auto& [text, printable, line] : cases) {
    EXPECT_EQ(Printable(text), printable);
    EXPECT_EQ(PrintableLine(text), line);
  }
}

}  // namespace
}  // namespace cli::testing
