#include "cli/explorer_commands.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/folder_paths.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "platform/ui/form.hpp"
#include "plexisync/core/context.hpp"

namespace cli {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr const char* kStandardBar = "Standard";
constexpr const char* kMenuBar = "Menu Bar";
constexpr const char* kAddinMenu = "Plexisync";

std::string Plain(const std::string& caption) { return platform::Trim(platform::PlainCaption(caption)); }

// What a control is called in messages: its caption, or its tag when it
// shows only an icon.
std::string Label(const host::CommandBarControl& c) {
  const std::string caption = Plain(c.Caption());
  return caption.empty() ? c.Tag() : caption;
}

struct Found {
  std::string place;  // "toolbar" or "menu"
  std::shared_ptr<host::CommandBarControl> control;
};

std::shared_ptr<host::Explorer> Window(ProfileSession& s) {
  auto explorer = s.App().ActiveExplorer();
  if (!explorer) throw CliError("the client has no explorer window open");
  return explorer;
}

// Switches the window as the person does (the add-in hears the switch).
void SwitchTo(ProfileSession& s, const std::shared_ptr<host::Explorer>& explorer, const std::string& folderPath) {
  if (folderPath.empty()) return;
  auto folder = s.AsPerson([&] { return ResolveFolder(*s.Session(), folderPath); });
  explorer->SetCurrentFolder(folder);
  auto shown = explorer->CurrentFolder();
  if (!shown || shown->EntryID() != folder->EntryID()) {
    throw CliError("the window did not switch to " + folderPath);
  }
  s.DoEvents();
}

// The controls the add-in placed: the toolbar's non-built-in controls, then
// the items of its popup on the menu bar.
std::vector<Found> AddinControls(host::Explorer& explorer) {
  std::vector<Found> found;
  auto& bars = explorer.CommandBars();
  auto& standard = bars.Item(kStandardBar);
  auto& tools = standard.Controls();
  for (int i = 1; i <= tools.Count(); ++i) {
    auto& c = tools.Item(i);
    if (c.BuiltIn()) continue;
    found.push_back({"toolbar", c.Handle()});
  }
  auto& menus = bars.Item(kMenuBar).Controls();
  for (int i = 1; i <= menus.Count(); ++i) {
    auto& c = menus.Item(i);
    if (c.Type() != host::ControlType::Popup || Plain(c.Caption()) != kAddinMenu) continue;
    auto& items = c.Controls();
    for (int j = 1; j <= items.Count(); ++j) found.push_back({"menu", items.Item(j).Handle()});
  }
  return found;
}

const char* StyleName(host::ButtonStyle style) {
  switch (style) {
    case host::ButtonStyle::Icon:
      return "icon";
    case host::ButtonStyle::Caption:
      return "caption";
    case host::ButtonStyle::IconAndCaption:
      return "icon and caption";
    case host::ButtonStyle::Automatic:
      break;
  }
  return "automatic";
}

std::uintmax_t LogSize(ProfileSession& s) {
  const plexisync::Context* ctx = s.Addin();
  if (!ctx || ctx->InstDir.empty()) return 0;
  std::error_code ec;
  const auto size = fs::file_size(ctx->InstDir + "errors.log", ec);
  return ec ? 0 : size;
}

}  // namespace

void ListButtons(ProfileSession& s, std::ostream& out, const std::string& folder, bool asJson) {
  auto explorer = Window(s);
  SwitchTo(s, explorer, folder);
  const auto controls = AddinControls(*explorer);
  if (asJson) {
    json doc;
    auto shown = explorer->CurrentFolder();
    doc["folder"] = shown ? FullPath(*shown) : std::string();
    doc["controls"] = json::array();
    for (const auto& f : controls) {
      const auto& c = *f.control;
      doc["controls"].push_back(json{{"place", f.place},
                                     {"tag", c.Tag()},
                                     {"caption", c.Caption()},
                                     {"style", StyleName(c.Style())},
                                     {"tooltip", c.TooltipText()},
                                     {"visible", c.Visible()},
                                     {"enabled", c.Enabled()},
                                     {"beginGroup", c.BeginGroup()},
                                     {"face", !c.Face().empty()}});
    }
    out << doc.dump(2) << "\n";
    return;
  }
  if (controls.empty()) {
    out << "The add-in has no controls in this window\n";
    return;
  }
  for (const auto& f : controls) {
    const auto& c = *f.control;
    out << f.place << "  \"" << PrintableLine(c.Caption()) << "\"  tag \"" << PrintableLine(c.Tag()) << "\"  "
        << StyleName(c.Style()) << "  " << (c.Visible() ? "visible" : "hidden") << "  "
        << (c.Enabled() ? "enabled" : "disabled") << (c.BeginGroup() ? "  begins group" : "")
        << (c.Face().empty() ? "  no face" : "  face");
    if (!c.TooltipText().empty()) out << "  tooltip \"" << PrintableLine(c.TooltipText()) << "\"";
    out << "\n";
  }
}

int ClickControl(ProfileSession& s, std::ostream& out, const std::string& name, const std::string& folder) {
  if (name.empty()) throw UnknownControlError("no button or menu item named \"\"");
  auto explorer = Window(s);
  SwitchTo(s, explorer, folder);
  const auto controls = AddinControls(*explorer);
  // Those with the tag first (it stays while a caption changes), then those
  // with the caption; of these, the first one a person can press now (a
  // command may be on the toolbar hidden and in the menu enabled).
  std::vector<std::shared_ptr<host::CommandBarControl>> matches;
  for (const auto& f : controls) {
    if (f.control->Tag() == name) matches.push_back(f.control);
  }
  for (const auto& f : controls) {
    if (f.control->Tag() != name && Plain(f.control->Caption()) == Plain(name)) matches.push_back(f.control);
  }
  std::shared_ptr<host::CommandBarControl> chosen;
  for (const auto& c : matches) {
    if (c->Visible() && c->Enabled()) {
      chosen = c;
      break;
    }
  }
  if (!chosen && !matches.empty()) chosen = matches.front();
  if (!chosen) throw UnknownControlError("no button or menu item named \"" + PrintableLine(name) + "\"");
  const std::uintmax_t logBefore = LogSize(s);
  const std::string captionBefore = chosen->Caption();
  out << "Pressing \"" << PrintableLine(Label(*chosen)) << "\"\n";
  if (!chosen->Click()) {
    throw CliError("\"" + PrintableLine(Label(*chosen)) + "\" cannot be pressed now (hidden or disabled)");
  }
  s.DoEvents();
  int rc = 0;
  if (LogSize(s) > logBefore) {
    out << "The add-in logged an error (see plexisync log)\n";
    rc = 1;
  }
  if (!chosen->IsDeleted() && chosen->Caption() != captionBefore) out << "Its caption is now \"" << PrintableLine(Plain(chosen->Caption())) << "\"\n";
  return rc;
}

}  // namespace cli
