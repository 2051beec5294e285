#include "plexisync/storage/settings.hpp"

#include <gtest/gtest.h>

#include "addin_fixture.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;
using testing::ProfileKeyPath;
using testing::StoredMyMails;

class SettingsTest : public testing::AddinTest {
 protected:
  // A machine with the registry started (RegInit) but not the add-in.
  AddinMachine& Registered(int biasMinutes = 0, const std::string& name = "machine") {
    testing::MachineOptions options;
    options.biasMinutes = biasMinutes;
    options.name = name;
    auto& m = Machine(options);
    m.ctx->InstDir = m.InstDir();
    RegInit(*m.ctx);
    return m;
  }
  void Store(AddinMachine& m, const std::string& name, const std::string& value) {
    m.Reg().SetValue(ProfileKeyPath(), name, value);
  }
};

TEST_F(SettingsTest, RegInitOpensTheCurrentUsersHive) {
  auto& m = Machine();
  m.Reg().DeleteKey(kProductKey);  // the installer's key is gone
  ASSERT_FALSE(m.Reg().KeyExists(kProductKey));
  RegInit(*m.ctx);
  ASSERT_NE(m.ctx->Reg, nullptr);
  EXPECT_EQ(m.ctx->Reg->RootKey(), HKEY_CURRENT_USER);
  EXPECT_TRUE(m.Reg().KeyExists(kProductKey));
  EXPECT_EQ(m.ctx->RegKey, "Software\\Quorvane\\Plexisync\\default\\");
  EXPECT_EQ(Get_Profile(), "default\\");
  // It writes no setting and does not make the profile key.
  EXPECT_TRUE(m.Reg().GetAllValueNames(kProductKey).empty());
  EXPECT_FALSE(m.Reg().KeyExists(ProfileKeyPath()));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SettingsTest, InstallationFolder) {
  auto& m = Registered();
  const std::string stored = (Scratch() / "installed").string() + "/";
  m.Reg().SetValue(kProductKey, "InstDir", stored);
  EXPECT_EQ(Get_InstDir(*m.ctx), stored) << "the stored value wins";
  // Absent or empty: the profile's own add-in folder, never a relative name.
  m.ctx->App = m.app.get();
  for (bool absent : {true, false}) {
    if (absent) {
      m.Reg().DeleteValue(kProductKey, "InstDir");
    } else {
      m.Reg().SetValue(kProductKey, "InstDir", std::string());
    }
    EXPECT_EQ(Get_InstDir(*m.ctx), m.profile.InstallDirText()) << absent;
    EXPECT_TRUE(std::filesystem::path(Get_InstDir(*m.ctx)).is_absolute());
  }
  // Without the application (no profile) or the registry accessor the
  // failure reaches the caller.
  m.ctx->App = nullptr;
  EXPECT_THROW(Get_InstDir(*m.ctx), AddinError);
  m.ctx->App = m.app.get();
  m.ctx->Reg.reset();
  EXPECT_THROW(Get_InstDir(*m.ctx), AddinError);
}

TEST_F(SettingsTest, EnsureKeyCreatesAKeyUnderTheProfileKey) {
  auto& m = Registered();
  Ensure_Key(*m.ctx, "Folder1");
  EXPECT_TRUE(m.Reg().KeyExists(ProfileKeyPath() + "Folder1"));
  m.Reg().SetValue(ProfileKeyPath() + "Folder1", "v", std::string("kept"));
  Ensure_Key(*m.ctx, "Folder1");
  EXPECT_EQ(m.Reg().GetString(ProfileKeyPath() + "Folder1", "v", ""), "kept");
  Ensure_Key(*m.ctx, "Folder2\\Import");
  EXPECT_TRUE(m.Reg().KeyExists(ProfileKeyPath() + "Folder2\\Import"));
}

TEST_F(SettingsTest, BooleanReaders) {
  struct Case {
    const char* stored;  // nullptr: absent
    bool autoUpdate, dontReceive, dontSendComments;
  } cases[] = {
      {nullptr, true, false, false}, {"1", true, true, true},   {"0", false, false, false},
      {"True", true, true, true},    {"false", false, false, false}, {"yes", false, false, false},
      {"", false, false, false},     {" 1 ", true, true, true},
  };
  auto& m = Registered();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "absent");
    for (const char* name : {"AutoUpdate", "Dont_Receive", "Dont_Send_Comments"}) {
      if (c.stored) {
        Store(m, name, c.stored);
      } else {
        m.Reg().DeleteValue(ProfileKeyPath(), name);
      }
    }
    EXPECT_EQ(Get_AutoUpdate(*m.ctx), c.autoUpdate);
    EXPECT_EQ(Get_DontReceive(*m.ctx), c.dontReceive);
    EXPECT_EQ(Get_DontSendComments(*m.ctx), c.dontSendComments);
  }
  // Any failure reads as false and is not logged.
  m.ctx->Reg.reset();
  EXPECT_FALSE(Get_AutoUpdate(*m.ctx));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SettingsTest, DefGmtIsThePositionOfTheStandardOffset) {
  struct Case {
    int bias;
    std::int32_t position;
  } cases[] = {
      {0, 12},   {-60, 13}, {60, 11},   {300, 7},    {-120, 14}, {-720, 24},
      {720, 0},  {-330, 18} /* 17.5 rounds to the even 18 */, {-270, 16} /* 16.5 to 16 */,
      {-345, 18} /* 17.75 */, {30, 12} /* 11.5 to 12 */, {90, 10} /* 10.5 to 10 */,
      // Zones beyond the list's ends get its nearest end.
      {-780, 24} /* UTC+13 */, {-765, 24} /* UTC+12:45 */, {-840, 24} /* UTC+14 */, {780, 0},
  };
  auto& m = Machine();
  for (const auto& c : cases) {
    platform::FixedTimeZone zone(c.bias);
    Context ctx(AddinServices{m.user, Clock(), zone, m.Hives()});
    EXPECT_EQ(defGMT(ctx), c.position) << "bias " << c.bias;
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SettingsTest, GmtTimeUsesThePositionOfTheOptionsWindow) {
  auto& m = Registered(-60);
  const auto local = platform::DateTime::FromParts(2026, 3, 1, 10, 30, 0);
  // Default: the computer's own offset, loaded with the options window.
  EXPECT_EQ(GMTTime(*m.ctx, local), platform::DateTime::FromParts(2026, 3, 1, 9, 30, 0));
  EXPECT_TRUE(m.ctx->Form<AdvSettings>().IsLoaded());
  EXPECT_FALSE(m.ctx->Form<AdvSettings>().IsVisible());

  // The list in force, not the stored value, counts.
  struct Case {
    int position;
    platform::DateTime gmt;
  } cases[] = {
      {12, local},
      {14, platform::DateTime::FromParts(2026, 3, 1, 8, 30, 0)},
      {0, platform::DateTime::FromParts(2026, 3, 1, 22, 30, 0)},
      {24, platform::DateTime::FromParts(2026, 2, 28, 22, 30, 0)},
  };
  for (const auto& c : cases) {
    m.ctx->Form<AdvSettings>().GMT.SetListIndex(c.position);
    EXPECT_EQ(GMTTime(*m.ctx, local), c.gmt) << c.position;
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SettingsTest, StoredGmtIsLoadedIntoTheList) {
  auto& m = Registered(-60);
  Store(m, "GMT", "14");
  const auto local = platform::DateTime::FromParts(2026, 3, 1, 10, 30, 0);
  EXPECT_EQ(GMTTime(*m.ctx, local), platform::DateTime::FromParts(2026, 3, 1, 8, 30, 0));
}

TEST_F(SettingsTest, LoadCheckboxesDefaults) {
  auto& m = Registered(-120);
  AdvSettings form(*m.ctx);
  Load_Checkboxes(*m.ctx, form);
  EXPECT_EQ(form.SendUpdated.Value(), 1);
  EXPECT_EQ(form.DontSendComments.Value(), 0);
  EXPECT_EQ(form.DontReceive.Value(), 0);
  EXPECT_EQ(form.Export.Value(), 1);
  EXPECT_EQ(form.AutoUpdate.Value(), 1);
  EXPECT_EQ(form.Kiek.ListIndex(), 1);
  EXPECT_EQ(form.Kiek.Text(), "500");
  EXPECT_TRUE(form.Kiek.Enabled());
  EXPECT_EQ(form.GMT.ListIndex(), 14);
  EXPECT_EQ(form.GMT.Text(), "+2:00");
  // Reading writes nothing.
  EXPECT_TRUE(m.Reg().GetAllValueNames(ProfileKeyPath()).empty());
}

TEST_F(SettingsTest, LoadCheckboxesReadsTheStoredValues) {
  auto& m = Registered();
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"Send_Updated", "0"}, {"Dont_Send_Comments", "1"}, {"Dont_Receive", "1"}, {"Export", "0"},
           {"AutoUpdate", "0"}, {"Kiek", "4"}, {"GMT", "3"}}) {
    Store(m, name, value);
  }
  AdvSettings form(*m.ctx);
  Load_Checkboxes(*m.ctx, form);
  EXPECT_EQ(form.SendUpdated.Value(), 0);
  EXPECT_EQ(form.DontSendComments.Value(), 1);
  EXPECT_EQ(form.DontReceive.Value(), 1);
  EXPECT_EQ(form.Export.Value(), 0);
  EXPECT_EQ(form.AutoUpdate.Value(), 0);
  EXPECT_EQ(form.Kiek.Text(), "5000");
  EXPECT_FALSE(form.Kiek.Enabled());
  EXPECT_EQ(form.GMT.Text(), "-9:00");
}

TEST_F(SettingsTest, LoadCheckboxesFailureLeavesTheThresholdAt500) {
  struct Case {
    const char* name;
    const char* value;
    int gmtAfter;  // -1: not filled
  } cases[] = {
      // The GMT list is never left without a selection: it takes the stored
      // position, or the computer's own (here 12) when that is no number.
      {"Kiek", "abc", 12}, {"Kiek", "5", 12},     {"Kiek", "-2", 12},
      {"GMT", "x", 12},    {"Send_Updated", "2", 12},
      {"Export", "", 12},  {"AutoUpdate", "True", 12},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    auto& m = Registered(0, "m" + std::to_string(n++));
    Store(m, "Kiek", "3");
    Store(m, c.name, c.value);
    AdvSettings form(*m.ctx);
    Load_Checkboxes(*m.ctx, form);
    EXPECT_EQ(form.Kiek.ListIndex(), 1);
    EXPECT_EQ(form.GMT.ListIndex(), c.gmtAfter);
    EXPECT_EQ(m.ErrorLog(), "") << "nothing is logged";
  }
}

// The GMT list has positions 0..24 only. Whatever is stored or computed, the
// list shows a selection inside it, GMTTime converts with that position and
// "OK" stores it; a stored text that is no number falls back to the
// computer's own offset (and, as any failure, puts the threshold at "500").
TEST_F(SettingsTest, TheGmtListAlwaysHasASelectionInsideIt) {
  struct Case {
    int bias;
    const char* stored;  // nullptr: absent
    int position;
    int kiek;  // the threshold after loading (stored: 3)
  } cases[] = {
      {-780, nullptr, 24, 3},  // UTC+13: defGMT 25
      {-765, nullptr, 24, 3},  // UTC+12:45: defGMT 25
      {-840, nullptr, 24, 3},  // UTC+14: defGMT 26
      {780, nullptr, 0, 3},
      {0, "-1", 0, 3},
      {0, "-12", 0, 3},
      {0, "99", 24, 3},
      {0, "25", 24, 3},
      {-60, "24", 24, 3},
      {-60, "abc", 13, 1},
      {-780, "abc", 24, 1},
      {0, "", 12, 1},
      {-120, "70000", 14, 1},  // beyond a 16-bit number: no number
  };
  const auto local = platform::DateTime::FromParts(2026, 3, 1, 10, 30, 0);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("bias " + std::to_string(c.bias) + ", GMT " + (c.stored ? c.stored : "<absent>"));
    auto& m = Registered(c.bias, "m" + std::to_string(n++));
    Store(m, "Kiek", "3");
    if (c.stored) Store(m, "GMT", c.stored);

    EXPECT_EQ(GMTTime(*m.ctx, local), local.AddHours(12 - c.position));
    auto& form = m.ctx->Form<AdvSettings>();
    EXPECT_EQ(form.GMT.ListIndex(), c.position);
    EXPECT_EQ(form.Kiek.ListIndex(), c.kiek);
    form.Accept_Click();
    EXPECT_EQ(m.Setting("GMT"), std::to_string(c.position));
    // Cancel reloads the stored (now valid) position.
    form.GMT.SetListIndex(5);
    form.Cancel_Click();
    EXPECT_EQ(form.GMT.ListIndex(), c.position);
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(SettingsTest, AThresholdStoredAsNoSelectionReadsAsTheDefault) {
  // "-1" is no list position: the list shows "500" and OK stores that,
  // while the other settings still load.
  auto& m = Registered();
  Store(m, "Kiek", "-1");
  Store(m, "GMT", "14");
  auto& form = m.ctx->Form<AdvSettings>();
  Load_Checkboxes(*m.ctx, form);
  EXPECT_EQ(form.Kiek.ListIndex(), 1);
  EXPECT_EQ(form.GMT.ListIndex(), 14);
  form.Accept_Click();
  EXPECT_EQ(m.Setting("Kiek"), "1");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SettingsTest, ObtainCheckboxesWritesTheControlsAsText) {
  auto& m = Registered();
  AdvSettings form(*m.ctx);
  Load_Checkboxes(*m.ctx, form);
  form.SendUpdated.SetValue(0);
  form.DontReceive.SetValue(1);
  form.Export.SetValue(0);
  form.Kiek.SetListIndex(3);
  form.GMT.SetListIndex(0);
  Obtain_Checkboxes(*m.ctx, form);
  EXPECT_EQ(m.Reg().GetAllValueNames(ProfileKeyPath()),
            (std::vector<std::string>{"Send_Updated", "Dont_Receive", "Dont_Send_Comments", "Export", "Kiek",
                                      "AutoUpdate", "GMT"}));
  EXPECT_EQ(m.Setting("Send_Updated"), "0");
  EXPECT_EQ(m.Setting("Dont_Receive"), "1");
  EXPECT_EQ(m.Setting("Dont_Send_Comments"), "0");
  EXPECT_EQ(m.Setting("Export"), "0");
  EXPECT_EQ(m.Setting("Kiek"), "3");
  EXPECT_EQ(m.Setting("AutoUpdate"), "1");
  EXPECT_EQ(m.Setting("GMT"), "0");
  for (const char* name : {"Send_Updated", "Kiek", "GMT"}) {
    EXPECT_EQ(m.Reg().ValueType(ProfileKeyPath(), name), 1) << name;
  }
  // Read back into a new window: the same values.
  AdvSettings again(*m.ctx);
  Load_Checkboxes(*m.ctx, again);
  EXPECT_EQ(again.Kiek.ListIndex(), 3);
  EXPECT_FALSE(again.Kiek.Enabled());
  EXPECT_EQ(again.GMT.ListIndex(), 0);
  EXPECT_EQ(Get_DontReceive(*m.ctx), true);
}

TEST_F(SettingsTest, ObtainCheckboxesLogsAFailure) {
  auto& m = Registered();
  AdvSettings form(*m.ctx);
  m.ctx->Reg.reset();
  Obtain_Checkboxes(*m.ctx, form);
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"Obtain_Checkboxes"}));
}

TEST_F(SettingsTest, IsMyMailComparesExactlyWithTheListInForce) {
  auto& m = Registered();
  Store(m, "MyMails", StoredMyMails({"Me@Example.com", "other@x.org"}));
  ASSERT_FALSE(m.ctx->HasForm<frmMyMails>());
  EXPECT_TRUE(Is_MyMail(*m.ctx, "Me@Example.com"));
  EXPECT_TRUE(m.ctx->Form<frmMyMails>().IsLoaded()) << "loaded hidden on first use";
  EXPECT_FALSE(m.ctx->Form<frmMyMails>().IsVisible());
  EXPECT_TRUE(Is_MyMail(*m.ctx, "other@x.org"));
  EXPECT_FALSE(Is_MyMail(*m.ctx, "me@example.com"));
  EXPECT_FALSE(Is_MyMail(*m.ctx, "Me@Example.com "));
  EXPECT_FALSE(Is_MyMail(*m.ctx, ""));
  // The list box counts, not the stored value.
  Store(m, "MyMails", "");
  EXPECT_TRUE(Is_MyMail(*m.ctx, "other@x.org"));
  m.ctx->Form<frmMyMails>().MyMails.AddItem("new@x.org");
  EXPECT_TRUE(Is_MyMail(*m.ctx, "new@x.org"));
}

TEST_F(SettingsTest, IsMyMailPassesAFailureToItsCaller) {
  auto& m = Registered();
  m.ctx->Reg.reset();
  EXPECT_THROW(Is_MyMail(*m.ctx, "x"), AddinError);
}

TEST(MyMailsTextTest, ParseAndFormat) {
  const std::string o = kMyMailOpen;
  const std::string c = kMyMailClose;
  struct Case {
    std::string stored;
    std::vector<std::string> addresses;
  } cases[] = {
      {"", {}},
      {"plain text", {}},
      {o + "a@x" + c, {"a@x"}},
      {o + "a@x" + c + o + "b@y" + c, {"a@x", "b@y"}},
      {"junk" + o + "a@x" + c + "more" + o + "b@y" + c + "tail", {"a@x", "b@y"}},
      {o + c, {""}},
      {o + "a@x" + c + o + "unclosed", {"a@x"}},
      {c + o + "a@x" + c, {}},               // a closing mark before the first opening one
      {o + "a" + o + "b" + c, {"a" + o + "b"}},
      {o + "ä@x" + c, {"ä@x"}},
      {"\xC2" + o + "\x9E" + c, {"\x9E"}},   // stray bytes around the marks
      {o + "a@x" + "\xC2", {}},
  };
  for (const auto& cs : cases) {
    EXPECT_EQ(ParseMyMails(cs.stored), cs.addresses) << cs.stored;
  }
  EXPECT_EQ(FormatMyMails({}), "");
  EXPECT_EQ(FormatMyMails({"a@x", ""}), o + "a@x" + c + o + c);
  for (const auto& list : std::vector<std::vector<std::string>>{{}, {"a"}, {"a@x", "b@y", ""}}) {
    EXPECT_EQ(ParseMyMails(FormatMyMails(list)), list);
  }
}

}  // namespace
}  // namespace plexisync
