#include "plexisync/dialogs/about.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/bitmap.hpp"
#include "platform/keystore.hpp"
#include "platform/shell.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync_version.hpp"

namespace plexisync {

namespace {

// The product picture: a 32 x 32 square in the product's blue.
platform::Bitmap ProductPicture() { return platform::Bitmap(32, 32, platform::Rgb{0x1f, 0x5f, 0xa8}); }

// The program that a GetKeyValue text names, when it names one: the text
// must not be empty.
std::optional<std::string> ProgramNamedBy(Context& ctx, const char* keyName, const char* valueName) {
  std::string value;
  if (!GetKeyValue(ctx, HKEY_LOCAL_MACHINE, keyName, valueName, value) || value.empty()) return std::nullopt;
  return value;
}

// The system-information program inside the folder the second key names,
// when the folder holds it as a regular file.
std::optional<std::string> ProgramInSharedTools(Context& ctx) {
  const auto folder = ProgramNamedBy(ctx, kSharedToolsKey, kSharedToolsValue);
  if (!folder) return std::nullopt;
  const std::filesystem::path program = std::filesystem::path(*folder) / kSysInfoProgram;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(program, ec)) return std::nullopt;
  return program.string();
}

}  // namespace

frmAbout::frmAbout(Context& ctx)
    : Form("frmAbout", "About Plexisync"),
      picIcon(Add<platform::Image>("picIcon", ProductPicture())),
      lblTitle(Add<platform::Label>("lblTitle", kProductTitle)),
      lblVersion(Add<platform::Label>("lblVersion")),
      lblDescription(Add<platform::Label>(
          "lblDescription", "Keeps the contacts of the people you work with up to date by e-mail.")),
      lblNote(Add<platform::Label>("lblNote")),
      lblDisclaimer(Add<platform::Label>("lblDisclaimer")),
      cmdOK(Add<platform::Button>("cmdOK", "OK")),
      cmdSysInfo(Add<platform::Button>("cmdSysInfo", "&System Info...")),
      ctx_(ctx) {
  cmdOK.SetDefault(true);
  cmdOK.SetCancel(true);
  cmdOK.onClick = [this] { Unload(); };
  cmdSysInfo.onClick = [this] { StartSysInfo(ctx_); };
  SetUser(&ctx.svc.user);
}

void frmAbout::Form_Load() {
  lblVersion.SetCaption(AboutVersionText());
  lblNote.SetCaption("");
}

void frmAbout::OnLoad() { Form_Load(); }

std::string AboutVersionText(int major, int minor, int revision) {
  return "Version " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

std::string AboutVersionText() { return AboutVersionText(version::kMajor, version::kMinor, version::kRevision); }

void StartSysInfo(Context& ctx) {
  bool started = false;
  try {
    std::optional<std::string> program = ProgramNamedBy(ctx, kSysInfoKey, kSysInfoValue);
    if (!program) program = ProgramInSharedTools(ctx);
    if (program && ctx.svc.shell != nullptr) {
      started = ctx.svc.shell->Run(*program, {}, platform::ShowMode::NormalFocus);
    }
  } catch (const std::exception&) {
    started = false;
  }
  if (!started) {
    ctx.svc.user.MessageBox(kSysInfoUnavailable, "", platform::MsgBoxButtons::Ok);
  }
}

bool GetKeyValue(Context& ctx, std::int32_t keyRoot, const std::string& keyName, const std::string& subKeyRef,
                 std::string& keyVal) {
  keyVal.clear();
  platform::KeyStore* hive = ctx.svc.hives ? ctx.svc.hives(keyRoot) : nullptr;
  if (hive == nullptr) return false;
  std::optional<platform::RegValue> value;
  try {
    value = hive->QueryValue(keyName, subKeyRef);
  } catch (const platform::KeyStoreError&) {
    return false;
  }
  if (!value) return false;
  const std::vector<std::uint8_t>& data = value->data;
  switch (value->type) {
    case platform::kRegSz: {
      std::size_t length = data.size();
      if (length > 0 && data[length - 1] == 0) --length;
      keyVal.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
      return true;
    }
    case platform::kRegDword: {
      if (data.size() != 4) return false;
      const std::uint32_t number = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                                   (static_cast<std::uint32_t>(data[2]) << 16) |
                                   (static_cast<std::uint32_t>(data[3]) << 24);
      keyVal = std::to_string(number);
      return true;
    }
    default:
      return true;
  }
}

void ShowAbout(Context& ctx) { ctx.Form<frmAbout>().Show(false); }

}  // namespace plexisync
