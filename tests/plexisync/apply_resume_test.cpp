// Applying an update mail when the process dies half-way (SIGKILL at
// moments spread over the apply) or the disk fills up: the next
// send/receive finishes the mail, so that the member ends with exactly the
// owner's contacts, each once and each mapped, no question answered before
// is asked again, and the owner's next change replaces a contact in place.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/receive/receive_journal.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "share_fixture.hpp"
#include "storage_fixture.hpp"

namespace plexisync::testing {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer build runs every step several times slower: a smaller folder
// takes the same paths.
constexpr int kFolderSize = 400;
#else
constexpr int kFolderSize = 2000;
#endif

// Runs `work` in a child process and returns its wait status. The child
// never returns into the test: it ends with _exit, or is killed.
template <class F>
int InChild(F&& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    work();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

// The integrity check's verdict on one SQLite file.
std::string IntegrityOf(const fs::path& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open";
  }
  std::string verdict;
  sqlite3_exec(
      db, "PRAGMA integrity_check",
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0] ? values[0] : "";
        return 0;
      },
      &verdict, nullptr);
  sqlite3_close(db);
  return verdict;
}

class ApplyResumeTest : public ShareTest {
 protected:
  void SetUp() override {
    ShareTest::SetUp();
    MachineOptions options;
    options.name = "alice";
    options.displayName = "Alice Adams";
    options.address = "alice@example.org";
    alice_ = &Machine(options);
    alice_->Reg().SetValue(ProfileKeyPath(), "Send_Updated", std::string("1"), 1);
    alice_->Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
    // Every member gets the update mail, however far behind.
    alice_->Reg().SetValue(ProfileKeyPath(), "Export", std::string("0"), 1);
    alice_->StartReturning();
    team_ = NewFolder(Contacts(*alice_), "Team");
  }

  // The owner's Team gets `count` contacts.
  void FillTeam(int count) {
    host::PersonScope person(*alice_->app);
    for (int i = 0; i < count; ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(team_->Items()->Add("IPM.Contact"));
      c->SetFullName("Person " + std::to_string(10000 + i));
      c->SetProperty("JobTitle", std::string("Title ") + std::to_string(i));
      c->SetBody("Notes on person " + std::to_string(i));
      c->Save();
      owners_.push_back(c->EntryID());
    }
  }

  // Members by name, each a contact of the owner's and a member of Team.
  void AddMembers(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      auto contact = NewContact(*alice_, Contacts(*alice_), name, name + "@example.org");
      Update_Entry(*alice_->ctx, team_->EntryID(), contact->EntryID(), name, true, name + "@example.org");
    }
  }

  // The owner sends what changed in Team to its members.
  void Send() {
    Clock().Advance(10);
    Update_Folder(*alice_->ctx, team_, false);
    alice_->DoEvents();
    Clock().Advance(10);
    ASSERT_EQ(alice_->ErrorLog(), "");
    ASSERT_EQ(alice_->user.Problems(), "");
  }

  MachineOptions MemberOptions(const std::string& name) {
    MachineOptions options;
    options.name = name;
    options.displayName = name;
    options.address = name + "@example.org";
    options.reopen = host::Profile::Exists(Scratch() / name);
    return options;
  }

  // The member's send/receive, the add-in applying what arrives.
  static void SendReceive(AddinMachine& m) {
    {
      host::PersonScope person(*m.app);
      m.app->Session()->SyncObjects()->Item(1)->Start();
    }
    m.DoEvents();
  }

  // A send/receive of the member in a child process. `dieAt` picks the
  // key-store call (by operation and path, counted from the add-in's start)
  // at which the child kills itself before the call runs; it sees every
  // call. `setup` runs in the child after the add-in's hive is in place.
  int MemberRunInChild(const std::string& name,
                       const std::function<bool(long calls, std::string_view op, std::string_view path)>& dieAt,
                       const std::function<void(AddinMachine&)>& setup = {}) {
    return InChild([&] {
      const MachineOptions options = MemberOptions(name);
      AddinMachine m(Scratch(), PostOffice(), Clock(), options);
      if (!options.reopen) m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
      ProbeKeyStore probe(*m.hive);
      long calls = 0;
      probe.failIf = [&](std::string_view op, std::string_view path) {
        if (dieAt(++calls, op, path)) ::raise(SIGKILL);
        return false;
      };
      m.addinHive = &probe;
      if (setup) setup(m);
      m.StartReturning();
      SendReceive(m);
      ::_exit(0);
    });
  }

  // How many key-store calls a whole send/receive of a new member makes.
  long CallsOfWholeRun(const std::string& name) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const int status = InChild([&] {
      ::close(fds[0]);
      const MachineOptions options = MemberOptions(name);
      AddinMachine m(Scratch(), PostOffice(), Clock(), options);
      m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
      ProbeKeyStore probe(*m.hive);
      long calls = 0;
      probe.failIf = [&](std::string_view, std::string_view) { return ++calls, false; };
      m.addinHive = &probe;
      m.StartReturning();
      SendReceive(m);
      if (::write(fds[1], &calls, sizeof calls) != sizeof calls) ::_exit(2);
      ::_exit(0);
    });
    ::close(fds[1]);
    long calls = 0;
    const bool read = ::read(fds[0], &calls, sizeof calls) == sizeof calls;
    ::close(fds[0]);
    EXPECT_TRUE(read && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    return calls;
  }

  // The member's copy of Team checked against the owner's: every contact
  // once, each mapped to one of the owner's identities, none left over, no
  // update mail left anywhere, nothing left to finish.
  void ExpectExactCopy(AddinMachine& m, const std::map<std::string, std::string>& titles = {}) {
    std::shared_ptr<host::Folder> copy;
    {
      host::PersonScope person(*m.app);
      auto folders = Contacts(m)->Folders();
      for (int i = 1; i <= folders->Count(); ++i) {
        if (folders->Item(i)->Name() == "Team") copy = folders->Item(i);
      }
    }
    ASSERT_NE(copy, nullptr);
    const std::string mapping = MappingKeyPath(*m.ctx, copy->EntryID());
    std::map<std::string, std::string> corrIdOf;
    for (const auto& [localId, corrId] : m.Reg().GetAllValueTexts(mapping)) corrIdOf[localId] = corrId;
    std::multiset<std::string> seen;
    int unmapped = 0;
    host::PersonScope person(*m.app);
    auto items = copy->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      ASSERT_NE(c, nullptr);
      const auto it = corrIdOf.find(c->EntryID());
      if (it == corrIdOf.end()) {
        ++unmapped;
        continue;
      }
      seen.insert(it->second);
      const auto title = titles.find(it->second);
      if (title != titles.end()) {
        EXPECT_EQ(c->Text("JobTitle"), title->second) << c->FullName();
      }
    }
    EXPECT_EQ(unmapped, 0);
    EXPECT_EQ(seen.size(), owners_.size());
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()),
              std::set<std::string>(owners_.begin(), owners_.end()));
    EXPECT_EQ(corrIdOf.size(), owners_.size()) << "identity entries naming no contact of the folder";
    EXPECT_THAT(ReceiveJournal::Unfinished(*m.ctx), ::testing::IsEmpty());
    int updateMails = 0;
    auto inbox = m.DefaultFolder(host::kFolderInbox)->Items();
    for (int i = 1; i <= inbox->Count(); ++i) updateMails += inbox->Item(i)->DefaultValue() == kUpdateMailSubject;
    EXPECT_EQ(updateMails, 0);
  }

  AddinMachine* alice_ = nullptr;
  std::shared_ptr<host::Folder> team_;
  std::vector<std::string> owners_;  // the owner's entry ids: the contacts' identities
};

// Killed after the invitation's folder was made but before the mail was
// kept: the next run finds the folder already there and still takes it as
// the invitation, without asking whether its sender may change it.
TEST_F(ApplyResumeTest, KilledJustAfterTheInvitedFolderWasMadeTheNextRunAsksNothing) {
  FillTeam(20);
  AddMembers({"member"});
  Send();
  std::function<bool(long, std::string_view, std::string_view)> dieAt = [noted = false](
      long, std::string_view op, std::string_view path) mutable {
    if (op == "SetValue" && path.find("\\Invitations") != std::string_view::npos) {
      noted = true;
      return false;
    }
    return noted;
  };
  const int status = MemberRunInChild("member", dieAt);
  ASSERT_TRUE(KilledBySigkill(status)) << "the run was not killed (status " << status << ")";
  MachineOptions options = MemberOptions("member");
  auto& m = Machine(options);
  m.StartReturning();
  SendReceive(m);
  ExpectExactCopy(m);
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_FALSE(m.Reg().KeyExists(ReceiveJournal::InvitationsKeyPath()) &&
               !m.Reg().GetAllValueNames(ReceiveJournal::InvitationsKeyPath()).empty());
}

// The kill campaign: one member per moment, all of them sent the same mail.
TEST_F(ApplyResumeTest, KilledAnywhereInTheApplyTheNextRunFinishesItExactly) {
  constexpr int kMoments = 10;
  std::vector<std::string> members = {"calibration"};
  for (int k = 0; k < kMoments + 3; ++k) members.push_back("member" + std::to_string(k));
  FillTeam(kFolderSize);
  AddMembers(members);
  Send();

  // The calls a whole run makes; the kills are spread over them.
  const long total = CallsOfWholeRun("calibration");
  ASSERT_GT(total, kFolderSize);

  std::vector<AddinMachine*> finished;
  for (int k = 0; k < kMoments + 3; ++k) {
    const std::string name = "member" + std::to_string(k);
    SCOPED_TRACE(name);
    std::function<bool(long, std::string_view, std::string_view)> dieAt;
    bool kept = false;
    if (k < kMoments) {
      // Spread from just after the start to just before the end.
      const long at = total / 50 + (total - total / 25) * k / kMoments;
      dieAt = [at](long calls, std::string_view, std::string_view) { return calls == at; };
    } else if (k == kMoments) {
      // Just after the mail's text was kept: the mail may still be in the Inbox.
      dieAt = [&kept](long, std::string_view op, std::string_view path) {
        if (op == "CreateKey" && path.find("\\Receiving\\") != std::string_view::npos) kept = true;
        return kept && op == "SetValue" && path.find("\\Receiving\\") == std::string_view::npos;
      };
    } else if (k == kMoments + 1) {
      // After the last contact, in the write that ends the mail.
      dieAt = [](long, std::string_view op, std::string_view path) {
        return op == "DeleteKey" && path.find("\\Receiving\\") != std::string_view::npos;
      };
    } else {
      // Between a contact's save and the write that records its identity.
      dieAt = [](long calls, std::string_view op, std::string_view path) {
        return calls > 200 && op == "SetValue" && path.find("\\mapping") != std::string_view::npos;
      };
    }
    const int status = MemberRunInChild(name, dieAt);
    ASSERT_TRUE(KilledBySigkill(status)) << "the run was not killed (status " << status << ")";

    // One more send/receive finishes the mail.
    MachineOptions options = MemberOptions(name);
    auto& m = Machine(options);
    m.StartReturning();
    SendReceive(m);
    ExpectExactCopy(m);
    EXPECT_EQ(m.user.Problems(), "");
    finished.push_back(&m);
  }

  // The owner changes a contact near each moment; every member takes the
  // change in place of its copy.
  std::map<std::string, std::string> titles;
  {
    host::PersonScope person(*alice_->app);
    for (int k = 0; k < kMoments; ++k) {
      const std::string& id = owners_[static_cast<std::size_t>(kFolderSize * k / kMoments)];
      auto c = alice_->app->Session()->GetItemFromID(id);
      c->SetProperty("JobTitle", std::string("Changed ") + std::to_string(k));
      c->Save();
      titles[id] = "Changed " + std::to_string(k);
    }
  }
  Send();
  for (AddinMachine* m : finished) {
    SCOPED_TRACE(m->profile.Address());
    m->user.ExpectForm("Klausimas", [](platform::Form& form) { form.Find<platform::Button>("Command2")->Click(); });
    SendReceive(*m);
    ExpectExactCopy(*m, titles);
    EXPECT_EQ(m->user.Problems(), "");
  }
}


// Questions answered before the kill are not asked again when the mail is
// finished; their answers hold.
TEST_F(ApplyResumeTest, AnswersGivenBeforeTheKillHoldWhenTheMailIsFinished) {
  FillTeam(20);
  AddMembers({"member"});
  Send();
  {
    auto& first = Machine(MemberOptions("member"));
    first.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
    first.StartReturning();
    SendReceive(first);
    ExpectExactCopy(first);
  }
  std::map<std::string, std::string> titles;
  {
    host::PersonScope person(*alice_->app);
    for (int i = 0; i < 3; ++i) {
      auto c = alice_->app->Session()->GetItemFromID(owners_[static_cast<std::size_t>(i)]);
      c->SetProperty("JobTitle", std::string("Changed"));
      c->Save();
    }
  }
  Send();
  // Yes to the first change, No to the second; killed at the third question.
  const int status = MemberRunInChild(
      "member", [](long, std::string_view, std::string_view) { return false; },
      [](AddinMachine& m) {
        auto click = [](const char* button) {
          return [button](platform::Form& form) { form.Find<platform::Button>(button)->Click(); };
        };
        m.user.ExpectForm("Klausimas", click("Command1"));
        m.user.ExpectForm("Klausimas", click("Command3"));
        m.user.ExpectForm("Klausimas", [](platform::Form&) { ::raise(SIGKILL); });
      });
  ASSERT_TRUE(KilledBySigkill(status)) << status;

  // Only the third question is asked again.
  auto& m = Machine(MemberOptions("member"));
  m.StartReturning();
  m.user.ExpectForm("Klausimas", [](platform::Form& form) { form.Find<platform::Button>("Command1")->Click(); });
  SendReceive(m);
  EXPECT_EQ(m.user.Problems(), "");
  titles[owners_[0]] = "Changed";
  titles[owners_[1]] = "Title 1";
  titles[owners_[2]] = "Changed";
  ExpectExactCopy(m, titles);
}

// A full disk (a file-size limit in the child) stops the apply part-way
// with nothing damaged; once there is room the next send/receive finishes.
TEST_F(ApplyResumeTest, AFullDiskStopsTheApplyAndTheNextRunFinishesIt) {
  FillTeam(kFolderSize);
  AddMembers({"member"});
  Send();
  std::uintmax_t mailSize = 0;
  for (const auto& entry : fs::recursive_directory_iterator(PostOffice())) {
    if (entry.is_regular_file()) mailSize = std::max(mailSize, entry.file_size());
  }
  ASSERT_GT(mailSize, 0u);
  const fs::path dir = Scratch() / "member";
  const int status = InChild([&] {
    const MachineOptions options = MemberOptions("member");
    AddinMachine m(Scratch(), PostOffice(), Clock(), options);
    m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
    m.StartReturning();
    std::uintmax_t largest = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file()) largest = std::max(largest, entry.file_size());
    }
    // Room for the mail and the kept text, not for all the contacts.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = static_cast<rlim_t>(largest + 2 * mailSize + 256 * 1024);
    const struct rlimit lim{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(3);
    SendReceive(m);
    ::_exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".db") {
      EXPECT_EQ(IntegrityOf(entry.path()), "ok") << entry.path();
    }
  }
  auto& m = Machine(MemberOptions("member"));
  // The run stopped part-way and kept the mail.
  EXPECT_THAT(m.Reg().GetAllSubKeys(std::string(kProductKey) + kReceivingKey), ::testing::SizeIs(1));
  // The log names the file that could not be written.
  EXPECT_THAT(m.ErrorLog(), ::testing::ContainsRegex("(store|registry)\\.db"));
  m.StartReturning();
  SendReceive(m);
  ExpectExactCopy(m);
}

}  // namespace
}  // namespace plexisync::testing
