#include "plexisync/storage/settings.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"

namespace plexisync {

namespace {

// A stored setting as the 16-bit number a control takes; a text that is not
// a number throws.
std::int16_t StoredNumber(Context& ctx, const char* name, const std::string& def) {
  return platform::ToInt16(ctx.reg().GetString(ctx.RegKey, name, def));
}

// The GMT list holds positions 0 ("-12:00") to 24 ("+12:00"); a stored or
// computed position outside it is taken to the nearest end, so that the list
// always shows a selection and "OK" never stores a position it cannot show.
constexpr int kGmtFirst = 0;
constexpr int kGmtLast = 24;
int GmtListPosition(int position) { return std::clamp(position, kGmtFirst, kGmtLast); }

// The stored "GMT" as a list position (absent: the computer's own offset);
// a text that is no 16-bit number throws.
int StoredGmtPosition(Context& ctx) {
  return GmtListPosition(StoredNumber(ctx, "GMT", std::to_string(defGMT(ctx))));
}

void StoreNumber(Context& ctx, const char* name, int value) {
  ctx.reg().SetValue(ctx.RegKey, name, std::to_string(value), 1);
}

// One of the Boolean settings; every failure, and a text that does not
// convert, gives false.
bool ReadFlag(Context& ctx, const char* name, const char* def) {
  bool result = false;
  PassOver([&] { result = platform::ToBoolean(ctx.reg().GetString(ctx.RegKey, name, def)); });
  return result;
}

}  // namespace

void RegInit(Context& ctx) {
  Protect(ctx, "RegInit", [&] {
    ctx.Reg = std::make_unique<CRegistry>(ctx.svc.hives);
    ctx.Reg->SetRootKey(HKEY_CURRENT_USER);
    if (!ctx.Reg->KeyExists(kProductKey)) ctx.Reg->CreateKey(kProductKey);
    ctx.RegKey = std::string(kProductKey) + Get_Profile();
  });
}

std::string Get_Profile() { return "default\\"; }

std::string Get_InstDir(Context& ctx) {
  const std::string stored = ctx.reg().GetString(kProductKey, "InstDir", "");
  if (!stored.empty()) return stored;
  // Without the installer's value: the profile's own add-in folder.
  return ctx.app().Profile().InstallDirText();
}

void Ensure_Key(Context& ctx, const std::string& name) {
  CRegistry& reg = ctx.reg();
  const std::string key = ctx.RegKey + name;
  if (!reg.KeyExists(key)) reg.CreateKey(key);
}

void Load_Checkboxes(Context& ctx) { Load_Checkboxes(ctx, ctx.Form<AdvSettings>()); }

void Load_Checkboxes(Context& ctx, AdvSettings& form) {
  try {
    form.SendUpdated.SetValue(StoredNumber(ctx, "Send_Updated", "1"));
    form.DontSendComments.SetValue(StoredNumber(ctx, "Dont_Send_Comments", "0"));
    form.DontReceive.SetValue(StoredNumber(ctx, "Dont_Receive", "0"));
    form.Export.SetValue(StoredNumber(ctx, "Export", "1"));
    form.AutoUpdate.SetValue(StoredNumber(ctx, "AutoUpdate", "1"));
    // "No selection" is no threshold at all: OK would store it for good.
    // It reads as the default, like any other value outside the list.
    const int kiek = StoredNumber(ctx, "Kiek", "1");
    form.Kiek.SetListIndex(kiek < 0 ? 1 : kiek);
    form.Kiek.SetEnabled(form.Export.Checked());
    form.GMT.SetListIndex(StoredGmtPosition(ctx));
  } catch (...) {
    // A stored text that is no number or no list position: the threshold
    // shows "500"; the controls not filled yet keep what they had.
    PassOver([&] { form.Kiek.SetListIndex(1); });
    // The GMT list is never left without a selection (GMTTime reads it and
    // "OK" stores it): if it has none yet, it takes the stored position, or
    // the computer's own offset when that cannot be read as a number.
    if (form.GMT.ListIndex() < kGmtFirst) {
      int position = -1;
      PassOver([&] { position = StoredGmtPosition(ctx); });
      if (position < kGmtFirst) position = defGMT(ctx);
      PassOver([&] { form.GMT.SetListIndex(GmtListPosition(position)); });
    }
  }
}

void Obtain_Checkboxes(Context& ctx) {
  Protect(ctx, "Obtain_Checkboxes", [&] { Obtain_Checkboxes(ctx, ctx.Form<AdvSettings>()); });
}

void Obtain_Checkboxes(Context& ctx, AdvSettings& form) {
  Protect(ctx, "Obtain_Checkboxes", [&] {
    StoreNumber(ctx, "Send_Updated", form.SendUpdated.Value());
    StoreNumber(ctx, "Dont_Receive", form.DontReceive.Value());
    StoreNumber(ctx, "Dont_Send_Comments", form.DontSendComments.Value());
    StoreNumber(ctx, "Export", form.Export.Value());
    StoreNumber(ctx, "Kiek", form.Kiek.ListIndex());
    StoreNumber(ctx, "AutoUpdate", form.AutoUpdate.Value());
    StoreNumber(ctx, "GMT", form.GMT.ListIndex());
  });
}

bool Get_AutoUpdate(Context& ctx) { return ReadFlag(ctx, "AutoUpdate", "True"); }
bool Get_DontReceive(Context& ctx) { return ReadFlag(ctx, "Dont_Receive", "False"); }
bool Get_DontSendComments(Context& ctx) { return ReadFlag(ctx, "Dont_Send_Comments", "False"); }

platform::DateTime GMTTime(Context& ctx, const platform::DateTime& local) {
  return ProtectOr(ctx, "GMTTime", platform::DateTime::Zero(), [&] {
    auto& form = ctx.Form<AdvSettings>();
    form.Load();
    const int position = form.GMT.ListIndex();
    return local.AddHours(12 - position);
  });
}

std::int32_t defGMT(Context& ctx) {
  return ProtectOr<std::int32_t>(ctx, "defGMT", 0, [&] {
    const double bias = ctx.svc.timeZone.StandardBiasMinutes();
    // Rounded to the nearest whole number, halves to the even neighbour.
    // Zones beyond +12:00 (UTC+12:45, +13, +14) or -12:00 get the nearest
    // end of the list.
    return static_cast<std::int32_t>(GmtListPosition(static_cast<int>(std::nearbyint(12.0 - bias / 60.0))));
  });
}

bool Is_MyMail(Context& ctx, const std::string& address) {
  auto& form = ctx.Form<frmMyMails>();
  if (!form.IsLoaded()) form.Load();
  for (const std::string& entry : form.MyMails.Items()) {
    if (entry == address) return true;
  }
  return false;
}

}  // namespace plexisync
