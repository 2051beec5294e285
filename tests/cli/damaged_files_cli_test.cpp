// Files of a profile that are there but damaged, and mail cut short in the
// post office: every command that needs a damaged file fails with one line
// on standard error and leaves the file as it is; nothing damaged is taken
// for a new, empty file or for a whole message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "cli_fixture.hpp"
#include "platform/sqlite.hpp"

namespace cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

class DamagedFilesCliTest : public CliTest {};

TEST_F(DamagedFilesCliTest, ADamagedStoreOrKeyStoreFailsEveryCommandWithOneLine) {
  const auto empty = [](const fs::path& file) { Write(file, ""); };
  // Every page after the first two overwritten: the file still opens.
  const auto overwritten = [](const fs::path& file) {
    std::string bytes = Bytes(file);
    ASSERT_GT(bytes.size(), 2048u);
    for (std::size_t i = 2048; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
    Write(file, bytes);
  };
  const struct {
    const char* name;
    const char* file;
    std::function<void(const fs::path&)> damage;
    std::string message;
  } cases[] = {
      {"message store emptied", "store.db", empty, "is damaged and cannot be read: the file is empty."},
      {"key store emptied", "registry.db", empty, "is damaged and cannot be read: the file is empty."},
      {"key store overwritten", "registry.db", overwritten, "is damaged and cannot be read: "},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string profile = "p" + std::to_string(n++);
    CreateProfile(profile, "Pat Post", profile + "@example.org");
    Ok({"-p", profile, "contact", "add", "Contacts", "--set", "FullName=Kept Contact"});
    const fs::path file = home_ / profile / c.file;
    c.damage(file);
    const std::string bytes = Bytes(file);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"contact", "list", "Contacts"}, {"send-receive"}, {"options"}}) {
      const RunResult r = ExpectFailure(profile, args, file.string() + " " + c.message);
      // No error-report window or first-start questions before the line.
      EXPECT_EQ(r.out, "") << ::testing::PrintToString(args);
    }
    EXPECT_TRUE(Bytes(file) == bytes) << "the damaged file was changed";
  }
}

// A failing repair says so in one line on standard error, not on standard
// output. The failure is injected at a late step of a repair run: the last
// steps of the run that fail the repair itself (rather than the end of the
// session) are looked for from the end.
TEST_F(DamagedFilesCliTest, AFailedRepairSaysSoOnStandardError) {
  CreateAlice();
  platform::sqlite::FailNthStep(0);
  ASSERT_EQ(Run({"-p", "alice", "repair"}).rc, 0);
  const std::uint64_t steps = platform::sqlite::StepsCounted();
  bool failed = false;
  for (std::uint64_t k = steps; k > 0 && !failed; --k) {
    platform::sqlite::FailNthStep(k);
    const RunResult r = Run({"-p", "alice", "repair"});
    platform::sqlite::FailNthStep(0);
    if (r.err.find("repair did not finish") == std::string::npos) continue;
    failed = true;
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Pressing \"Update and repair database\""));
    EXPECT_THAT(r.out, Not(HasSubstr("did not finish")));
    EXPECT_THAT(r.out, Not(HasSubstr("See plexisync log")));
  }
  EXPECT_TRUE(failed) << "no step of " << steps << " failed the repair";
}

// A mail cut short in the post office reaches nothing: the send-receive that
// finds it names it once, later ones say nothing more, and it stays there.
TEST_F(DamagedFilesCliTest, AMailCutShortIsReportedOnceAndLeftInThePostOffice) {
  CreateAlice();
  CreateBob();
  Ok({"-p", "bob", "mail", "send", "--to", "alice@example.org", "--subject", "Whole", "--body", "kept",
      "--attach", (home_ / "bob" / "profile.json").string()});
  Ok({"-p", "bob", "send-receive"});
  const fs::path newDir = home_ / "postoffice" / "alice@example.org" / "new";
  ASSERT_EQ(std::distance(fs::directory_iterator(newDir), fs::directory_iterator()), 1);
  const fs::path mail = fs::directory_iterator(newDir)->path();
  const std::string whole = Bytes(mail);
  const std::string cut = whole.substr(0, whole.rfind("\n--") + 1);  // no closing boundary
  Write(mail, cut);

  const RunResult first = Run({"-p", "alice", "send-receive"});
  EXPECT_EQ(first.rc, 1) << first.out << first.err;
  EXPECT_THAT(first.out, HasSubstr("Sent 0, received 0"));
  EXPECT_THAT(first.out, HasSubstr(mail.string() + " was cut short"));
  const RunResult second = Run({"-p", "alice", "send-receive"});
  EXPECT_EQ(second.rc, 0) << second.out << second.err;
  EXPECT_THAT(second.out, Not(HasSubstr("cut short")));
  EXPECT_EQ(Bytes(mail), cut);
  EXPECT_THAT(Ok({"-p", "alice", "mail", "list", "Inbox"}), Not(HasSubstr("Whole")));
}

}  // namespace
}  // namespace cli::testing
