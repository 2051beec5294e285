// The about window: its version line, the system-information shortcut and
// the key-store reading behind it.
#include "plexisync/dialogs/about.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync_version.hpp"
#include "support/manual_clock.hpp"
#include "support/recording_shell.hpp"
#include "support/scripted_user.hpp"

namespace plexisync {
namespace {

namespace fs = std::filesystem;
using platform::RecordingShell;

// A machine with a key store for HKEY_LOCAL_MACHINE only, a shell that
// records and a scripted person.
class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    scratch_ = fs::temp_directory_path() /
               ("plexisync-about-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
    machine_ = platform::KeyStore::Open(scratch_ / "machine.hive");
    ctx_ = std::make_unique<Context>(AddinServices{user_, clock_, zone_,
                                                   [this](std::int32_t root) -> platform::KeyStore* {
                                                     return root == HKEY_LOCAL_MACHINE ? machine_.get() : nullptr;
                                                   },
                                                   &shell_});
  }
  void TearDown() override {
    ctx_.reset();
    machine_.reset();
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }

  void PutValue(const std::string& key, const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data) {
    machine_->CreateKey(key);
    ASSERT_TRUE(machine_->SetValue(key, name, type, data));
  }
  void PutText(const std::string& key, const std::string& name, const std::string& text) {
    PutValue(key, name, platform::kRegSz, EncodeRegText(text));
  }
  // A folder holding a file of the given name.
  fs::path FolderWith(const std::string& folder, const std::string& file) {
    const fs::path dir = scratch_ / folder;
    fs::create_directories(dir);
    std::ofstream(dir / file) << "#!/bin/sh\n";
    return dir;
  }

  fs::path scratch_;
  platform::ScriptedUser user_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  RecordingShell shell_;
  std::unique_ptr<platform::KeyStore> machine_;
  std::unique_ptr<Context> ctx_;
};

TEST(AboutVersion, NamesMajorMinorAndRevision) {
  EXPECT_EQ(AboutVersionText(2, 1, 5), "Version 2.1.5");
  EXPECT_EQ(AboutVersionText(1, 0, 23), "Version 1.0.23");
  EXPECT_EQ(AboutVersionText(), std::string("Version ") + version::kText);
}

TEST_F(AboutTest, ShowsNameAndVersionNotModallyAndOkUnloadsIt) {
  ShowAbout(*ctx_);
  auto& form = ctx_->Form<frmAbout>();
  EXPECT_TRUE(form.IsVisible());
  EXPECT_FALSE(form.IsModal());
  EXPECT_EQ(form.Caption(), "About Plexisync");
  EXPECT_EQ(form.lblTitle.Caption(), "Plexisync");
  EXPECT_EQ(form.lblVersion.Caption(), AboutVersionText());
  EXPECT_EQ(form.lblNote.Caption(), "");
  EXPECT_EQ(form.lblDisclaimer.Caption(), "");
  EXPECT_TRUE(form.picIcon.HasPicture());
  EXPECT_EQ(platform::PlainCaption(form.cmdSysInfo.Caption()), "System Info...");
  // OK is both Enter and Esc.
  EXPECT_EQ(form.DefaultButton(), &form.cmdOK);
  EXPECT_EQ(form.CancelButton(), &form.cmdOK);

  form.lblNote.SetCaption("left over");
  EXPECT_TRUE(form.cmdOK.Click());
  EXPECT_FALSE(form.IsLoaded());
  EXPECT_FALSE(form.IsVisible());
  // Shown again, it loads afresh.
  ShowAbout(*ctx_);
  EXPECT_TRUE(form.IsVisible());
  EXPECT_EQ(form.lblNote.Caption(), "");
  EXPECT_EQ(user_.Problems(), "");
}

TEST_F(AboutTest, SystemInfoStartsTheToolTheKeyStoreNamesOrSaysItCannot) {
  const fs::path tools = FolderWith("tools", kSysInfoProgram);
  const fs::path otherTools = FolderWith("other", "something-else");
  fs::create_directories(scratch_ / "dirtools" / kSysInfoProgram);  // a folder, not a program
  const std::string direct = "/opt/sysinfo/bin/sysinfo";
  struct Case {
    const char* name;
    std::optional<std::string> first;   // value "PATH" of the first key
    std::optional<std::string> second;  // value "SYSINFO" of the second key
    bool shellStarts;
    std::optional<std::string> started;  // the program run; none: the message
  };
  const Case cases[] = {
      {"first key", direct, tools.string(), true, direct},
      {"first key only", direct, std::nullopt, true, direct},
      {"second key's folder holds the program", std::nullopt, tools.string(), true,
       (tools / kSysInfoProgram).string()},
      {"second key with a trailing separator", std::nullopt, tools.string() + "/", true,
       (tools / kSysInfoProgram).string()},
      {"empty first value falls to the second", std::string(), tools.string(), true,
       (tools / kSysInfoProgram).string()},
      {"second key's folder lacks the program", std::nullopt, otherTools.string(), true, std::nullopt},
      {"the program's name is a folder", std::nullopt, (scratch_ / "dirtools").string(), true, std::nullopt},
      {"neither key", std::nullopt, std::nullopt, true, std::nullopt},
      {"the shell cannot start it", direct, std::nullopt, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    machine_->DeleteValue(kSysInfoKey, kSysInfoValue);
    machine_->DeleteValue(kSharedToolsKey, kSharedToolsValue);
    if (c.first) PutText(kSysInfoKey, kSysInfoValue, *c.first);
    if (c.second) PutText(kSharedToolsKey, kSharedToolsValue, *c.second);
    shell_.Clear();
    shell_.SetResult(c.shellStarts);
    if (!c.started) user_.ExpectMessage(kSysInfoUnavailable, platform::MsgBoxResult::Ok);

    StartSysInfo(*ctx_);

    EXPECT_EQ(user_.Problems(), "");
    const auto& runs = shell_.Requests();
    if (c.started && c.shellStarts) {
      ASSERT_EQ(runs.size(), 1u);
      EXPECT_EQ(runs[0].kind, RecordingShell::Request::Kind::kRun);
      EXPECT_EQ(fs::path(runs[0].path).lexically_normal(), fs::path(*c.started).lexically_normal());
      EXPECT_TRUE(runs[0].args.empty());
      EXPECT_EQ(runs[0].mode, platform::ShowMode::NormalFocus);
    } else if (c.shellStarts) {
      EXPECT_TRUE(runs.empty());
    }
  }
}

TEST_F(AboutTest, TheSystemInfoButtonRunsTheShortcut) {
  ShowAbout(*ctx_);
  user_.ExpectMessage(kSysInfoUnavailable, platform::MsgBoxResult::Ok);
  EXPECT_TRUE(ctx_->Form<frmAbout>().cmdSysInfo.Click());
  EXPECT_EQ(user_.Problems(), "");
  EXPECT_TRUE(shell_.Requests().empty());

  PutText(kSysInfoKey, kSysInfoValue, "/usr/bin/sysinfo");
  EXPECT_TRUE(ctx_->Form<frmAbout>().cmdSysInfo.Click());
  ASSERT_EQ(shell_.Requests().size(), 1u);
  EXPECT_EQ(shell_.Requests()[0].path, "/usr/bin/sysinfo");
  EXPECT_TRUE(ctx_->Form<frmAbout>().IsVisible());
}

TEST_F(AboutTest, GetKeyValueReadsTextsAndNumbersAndNothingElse) {
  const std::string key = "SOFTWARE\\Test";
  PutText(key, "text", "C:/Program Files/tool");
  PutValue(key, "unterminated", platform::kRegSz, {'a', 'b'});
  PutValue(key, "empty text", platform::kRegSz, {0});
  // Bytes 05 01 00 00 are 0x105: each byte's two digits count.
  PutValue(key, "number", platform::kRegDword, {0x05, 0x01, 0x00, 0x00});
  PutValue(key, "zero", platform::kRegDword, {0, 0, 0, 0});
  PutValue(key, "largest", platform::kRegDword, {0xff, 0xff, 0xff, 0xff});
  PutValue(key, "short number", platform::kRegDword, {0x05, 0x01});
  PutValue(key, "binary", platform::kRegBinary, {'x', 'y', 0});
  PutValue(key, "expandable", platform::kRegExpandSz, EncodeRegText("%HOME%/x"));
  PutValue(key, "big endian", platform::kRegDwordBigEndian, {0, 0, 0, 7});
  struct Case {
    std::int32_t root;
    std::string key;
    std::string value;
    bool ok;
    std::string text;
  };
  const Case cases[] = {
      {HKEY_LOCAL_MACHINE, key, "text", true, "C:/Program Files/tool"},
      {HKEY_LOCAL_MACHINE, key, "TEXT", true, "C:/Program Files/tool"},
      {HKEY_LOCAL_MACHINE, key, "unterminated", true, "ab"},
      {HKEY_LOCAL_MACHINE, key, "empty text", true, ""},
      {HKEY_LOCAL_MACHINE, key, "number", true, "261"},
      {HKEY_LOCAL_MACHINE, key, "zero", true, "0"},
      {HKEY_LOCAL_MACHINE, key, "largest", true, "4294967295"},
      {HKEY_LOCAL_MACHINE, key, "short number", false, ""},
      {HKEY_LOCAL_MACHINE, key, "binary", true, ""},
      {HKEY_LOCAL_MACHINE, key, "expandable", true, ""},
      {HKEY_LOCAL_MACHINE, key, "big endian", true, ""},
      {HKEY_LOCAL_MACHINE, key, "missing", false, ""},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "text", false, ""},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Test", "text", false, ""},  // a path with an empty part
      {HKEY_CURRENT_USER, key, "text", false, ""},                    // no store behind that root
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(GetKeyValue(*ctx_, c.root, c.key, c.value, out), c.ok) << c.key << " / " << c.value;
    EXPECT_EQ(out, c.text) << c.key << " / " << c.value;
  }
}

}  // namespace
}  // namespace plexisync
