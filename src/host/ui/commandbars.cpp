#include "host/ui/commandbars.hpp"

#include <algorithm>
#include <utility>

#include "platform/bitmap.hpp"
#include "platform/clipboard.hpp"
#include "platform/text.hpp"

namespace host {

namespace {

// Captions compare without their "&" accelerator marks and without case.
std::string CaptionKey(std::string_view caption) {
  std::string plain;
  plain.reserve(caption.size());
  for (char c : caption) {
    if (c != '&') plain.push_back(c);
  }
  return platform::FoldCase(plain);
}

bool Matches(const CommandBarControl& c, std::optional<ControlType> type, int id, std::string_view tag) {
  if (type && c.Type() != *type) return false;
  if (id != 0 && c.Id() != id) return false;
  if (!tag.empty() && c.Tag() != tag) return false;
  return true;
}

// Depth-first search through a collection and its popups.
CommandBarControl* FindIn(const CommandBarControls& controls, std::optional<ControlType> type, int id,
                          std::string_view tag) {
  for (CommandBarControl* c : controls.All()) {
    if (Matches(*c, type, id, tag)) return c;
    if (c->Type() == ControlType::Popup) {
      if (CommandBarControl* found = FindIn(c->Controls(), type, id, tag)) return found;
    }
  }
  return nullptr;
}

// The built-in contents of a new window's bars.
struct BuiltInButton {
  int id;
  const char* caption;
  ButtonStyle style;
  bool beginGroup;
};

struct BuiltInPopup {
  int id;
  const char* caption;
  std::vector<BuiltInButton> items;
};

const std::vector<BuiltInButton>& StandardButtons() {
  static const std::vector<BuiltInButton> buttons = {
      {1837, "New", ButtonStyle::IconAndCaption, false},
      {4, "Print", ButtonStyle::Icon, false},
      {1679, "Move to Folder", ButtonStyle::Icon, true},
      {478, "Delete", ButtonStyle::Icon, false},
      {1758, "Find", ButtonStyle::IconAndCaption, true},
      {353, "Address Book", ButtonStyle::Icon, false},
  };
  return buttons;
}

const std::vector<BuiltInPopup>& MenuBarPopups() {
  static const std::vector<BuiltInPopup> popups = {
      {30002, "File",
       {{1838, "New", ButtonStyle::Automatic, false},
        {23, "Open", ButtonStyle::Automatic, false},
        {748, "Save As...", ButtonStyle::Automatic, true},
        {4, "Print...", ButtonStyle::Automatic, true},
        {752, "Exit", ButtonStyle::Automatic, true}}},
      {30003, "Edit",
       {{128, "Undo", ButtonStyle::Automatic, false},
        {21, "Cut", ButtonStyle::Automatic, true},
        {19, "Copy", ButtonStyle::Automatic, false},
        {22, "Paste", ButtonStyle::Automatic, false},
        {478, "Delete", ButtonStyle::Automatic, false},
        {1679, "Move to Folder...", ButtonStyle::Automatic, true},
        {756, "Select All", ButtonStyle::Automatic, false}}},
      {30004, "View",
       {{1905, "Current View", ButtonStyle::Automatic, false},
        {1910, "Folder List", ButtonStyle::Automatic, true},
        {30045, "Toolbars", ButtonStyle::Automatic, false},
        {1926, "Refresh", ButtonStyle::Automatic, true}}},
      {30080, "Go",
       {{1927, "Inbox", ButtonStyle::Automatic, false},
        {1928, "Contacts", ButtonStyle::Automatic, false},
        {1929, "Folder...", ButtonStyle::Automatic, true}}},
      {30007, "Tools",
       {{5488, "Send/Receive", ButtonStyle::Automatic, false},
        {1758, "Find", ButtonStyle::Automatic, true},
        {353, "Address Book...", ButtonStyle::Automatic, false},
        {522, "Options...", ButtonStyle::Automatic, true}}},
      {30131, "Actions",
       {{1992, "New Contact", ButtonStyle::Automatic, false},
        {2008, "New Message to Contact", ButtonStyle::Automatic, false},
        {354, "Forward", ButtonStyle::Automatic, true}}},
      {30010, "Help",
       {{984, "Help Contents", ButtonStyle::Automatic, false},
        {927, "About", ButtonStyle::Automatic, true}}},
  };
  return popups;
}

std::shared_ptr<CommandBarControl> MakeBuiltIn(auto&& make, ControlType type, int id, const char* caption,
                                               ButtonStyle style, bool beginGroup) {
  auto c = make(type, id);
  c->SetCaption(caption);
  c->SetTooltipText(caption);
  c->SetStyle(style);
  c->SetBeginGroup(beginGroup);
  return c;
}

}  // namespace

// ---------------------------------------------------------------- controls

CommandBarControl& CommandBarControls::Item(int index) {
  if (index < 1 || index > Count()) throw HostError("Control index out of range");
  return *items_[static_cast<std::size_t>(index - 1)];
}

CommandBarControl& CommandBarControls::Item(std::string_view caption) {
  if (CommandBarControl* c = Find(caption)) return *c;
  throw HostError("No control with the caption \"" + std::string(caption) + "\"");
}

CommandBarControl* CommandBarControls::Find(std::string_view caption) {
  const std::string key = CaptionKey(caption);
  for (const auto& c : items_) {
    if (CaptionKey(c->Caption()) == key) return c.get();
  }
  return nullptr;
}

CommandBarControl& CommandBarControls::Add(ControlType type, int before, bool temporary) {
  if (type != ControlType::Button && type != ControlType::Popup) throw HostError("Unsupported control type");
  if (before < 0 || before > Count() + 1) throw HostError("Control position out of range");
  auto control = std::make_shared<CommandBarControl>(CommandBarControl::Key{}, type, kCustomControlId, false,
                                                     temporary);
  return Insert(std::move(control), before);
}

std::vector<CommandBarControl*> CommandBarControls::All() const {
  std::vector<CommandBarControl*> out;
  out.reserve(items_.size());
  for (const auto& c : items_) out.push_back(c.get());
  return out;
}

CommandBarControl& CommandBarControls::Insert(std::shared_ptr<CommandBarControl> control, int before) {
  control->parent_ = this;
  auto pos = before == 0 ? items_.end() : items_.begin() + (before - 1);
  return **items_.insert(pos, std::move(control));
}

void CommandBarControls::Remove(CommandBarControl& control) {
  auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& c) { return c.get() == &control; });
  if (it == items_.end()) return;
  std::shared_ptr<CommandBarControl> keep = *it;  // the control may be referenced only from here
  items_.erase(it);
  keep->Detach();
}

void CommandBarControls::RemoveTemporary() {
  std::vector<std::shared_ptr<CommandBarControl>> removed;
  std::erase_if(items_, [&](const std::shared_ptr<CommandBarControl>& c) {
    if (!c->Temporary()) return false;
    removed.push_back(c);
    return true;
  });
  for (const auto& c : items_) {
    if (c->items_) c->items_->RemoveTemporary();
  }
  for (const auto& c : removed) c->Detach();
}

void CommandBarControls::DetachAll() {
  auto removed = std::exchange(items_, {});
  for (const auto& c : removed) c->Detach();
}

CommandBarControl::CommandBarControl(Key, ControlType type, int id, bool builtIn, bool temporary)
    : type_(type), id_(id), builtIn_(builtIn), temporary_(temporary) {
  if (type_ == ControlType::Popup) items_.reset(new CommandBarControls(nullptr, this));
}

CommandBarControl::~CommandBarControl() {
  // Items kept alive elsewhere must not point at this popup's collection.
  if (items_) {
    for (const auto& c : items_->items_) c->parent_ = nullptr;
  }
}

int CommandBarControl::Index() const {
  if (IsDeleted()) return 0;
  const auto& items = parent_->items_;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].get() == this) return static_cast<int>(i + 1);
  }
  return 0;
}

CommandBar* CommandBarControl::Bar() const {
  const CommandBarControl* c = this;
  // Walk up through the popups to the bar's own collection.
  while (c->parent_ != nullptr) {
    if (c->parent_->bar_ != nullptr) return c->parent_->bar_;
    c = c->parent_->owner_;
    if (c == nullptr) return nullptr;
  }
  return nullptr;
}

CommandBarControl* CommandBarControl::ParentPopup() const {
  if (IsDeleted()) return nullptr;
  return parent_->owner_;
}

CommandBarControls& CommandBarControl::Controls() {
  if (!items_) throw HostError("A button has no controls");
  return *items_;
}

void CommandBarControl::PasteFace() { PasteFace(platform::SystemClipboard()); }

void CommandBarControl::PasteFace(platform::Clipboard& clipboard) {
  // Reading needs the clipboard open; when a caller already holds it open,
  // read within the caller's session and leave it open.
  const bool openedHere = clipboard.Open();
  struct CloseGuard {
    platform::Clipboard& cb;
    bool active;
    ~CloseGuard() {
      if (active) cb.Close();
    }
  } guard{clipboard, openedHere};

  const auto usable = [](const std::optional<std::vector<std::uint8_t>>& block) {
    return block && platform::ReadDibHeader(*block).has_value();
  };

  const std::uint32_t faceFormat = clipboard.RegisterFormat(kToolbarButtonFaceFormat);
  const std::uint32_t maskFormat = clipboard.RegisterFormat(kToolbarButtonMaskFormat);
  std::optional<std::vector<std::uint8_t>> face = clipboard.GetData(faceFormat);
  std::optional<std::vector<std::uint8_t>> mask;
  if (usable(face)) {
    mask = clipboard.GetData(maskFormat);
    // Only a 1-bit picture serves as a mask; anything else leaves the face opaque.
    if (mask) {
      auto header = platform::ReadDibHeader(*mask);
      if (!header || header->bitCount != 1) mask.reset();
    }
  } else {
    face = clipboard.GetData(platform::kCfDib);
    if (!usable(face)) throw HostError("The clipboard holds no picture to paste as a face");
  }
  face_ = std::move(*face);
  mask_ = mask ? std::move(*mask) : std::vector<std::uint8_t>{};
}

void CommandBarControl::Delete() {
  if (IsDeleted()) return;
  parent_->Remove(*this);
}

Subscription CommandBarControl::OnClick(ClickHandler handler) {
  if (!handler) throw HostError("Empty click handler");
  std::erase_if(slots_, [](const std::shared_ptr<Slot>& s) { return !s->connected; });
  auto slot = std::make_shared<Slot>();
  slot->handler = std::move(handler);
  slots_.push_back(slot);
  std::weak_ptr<Slot> weak = slot;
  return Subscription([weak] {
    if (auto s = weak.lock()) s->connected = false;
  });
}

bool CommandBarControl::Click() {
  if (type_ == ControlType::Popup || !Reachable()) return false;
  RaiseClick();
  return true;
}

void CommandBarControl::Execute() {
  if (IsDeleted()) throw HostError("The control was deleted");
  if (type_ == ControlType::Popup) return;
  RaiseClick();
}

void CommandBarControl::Detach() {
  parent_ = nullptr;
  DisconnectAll();
}

void CommandBarControl::DisconnectAll() {
  for (const auto& s : slots_) s->connected = false;
  slots_.clear();
  if (items_) {
    for (const auto& c : items_->items_) c->DisconnectAll();
  }
}

bool CommandBarControl::Reachable() const {
  const CommandBarControl* c = this;
  while (true) {
    if (!c->visible_ || !c->enabled_ || c->parent_ == nullptr) return false;
    if (c->parent_->bar_ != nullptr) return true;
    c = c->parent_->owner_;
    if (c == nullptr) return false;
  }
}

CommandBarsRegistry* CommandBarControl::Registry() const {
  CommandBar* bar = Bar();
  return bar ? bar->Parent().Registry().get() : nullptr;
}

void CommandBarControl::CollectTagged(const std::string& tag, std::vector<std::shared_ptr<CommandBarControl>>& out) {
  if (items_) {
    for (const auto& c : items_->items_) {
      if (c->type_ == ControlType::Button && c->tag_ == tag) out.push_back(c);
      c->CollectTagged(tag, out);
    }
  }
}

void CommandBarControl::RaiseClick() {
  // Everything is gathered first, and held by shared handles, so that a
  // handler may delete controls, drop handlers or close a window meanwhile.
  std::shared_ptr<CommandBarControl> self = shared_from_this();
  std::vector<std::shared_ptr<CommandBarControl>> targets{self};
  if (!tag_.empty()) {
    if (CommandBarsRegistry* registry = Registry()) {
      std::vector<std::shared_ptr<CommandBarControl>> tagged;
      for (CommandBars* bars : registry->members_) {
        for (const auto& bar : bars->bars_) {
          for (const auto& c : bar->Controls().items_) {
            if (c->type_ == ControlType::Button && c->tag_ == tag_) tagged.push_back(c);
            c->CollectTagged(tag_, tagged);
          }
        }
      }
      for (auto& c : tagged) {
        if (c != self) targets.push_back(std::move(c));
      }
    }
  }

  std::vector<std::shared_ptr<Slot>> slots;
  for (const auto& t : targets) {
    for (const auto& s : t->slots_) {
      if (s->connected) slots.push_back(s);
    }
  }

  bool cancelDefault = false;
  for (const auto& s : slots) {
    if (s->connected) s->handler(*self, cancelDefault);
  }
  if (!cancelDefault && defaultAction_) {
    auto action = defaultAction_;
    action(*self);
  }
}

// -------------------------------------------------------------------- bars

CommandBar::CommandBar(CommandBars* owner, std::string name, bool builtIn)
    : owner_(owner), name_(std::move(name)), builtIn_(builtIn), controls_(this, nullptr) {}

CommandBar::~CommandBar() { controls_.DetachAll(); }

CommandBarControl* CommandBar::FindControl(std::string_view tag) {
  if (tag.empty()) return nullptr;
  return FindIn(controls_, std::nullopt, 0, tag);
}

CommandBarControl* CommandBar::FindControl(std::optional<ControlType> type, int id, std::string_view tag) {
  return FindIn(controls_, type, id, tag);
}

CommandBars::CommandBars(std::shared_ptr<CommandBarsRegistry> registry) : registry_(std::move(registry)) {
  if (!registry_) registry_ = std::make_shared<CommandBarsRegistry>();

  const auto make = [](ControlType type, int id) {
    return std::make_shared<CommandBarControl>(CommandBarControl::Key{}, type, id, true, false);
  };

  auto& standard = *bars_.emplace_back(std::make_unique<CommandBar>(this, "Standard", true));
  for (const auto& b : StandardButtons()) {
    standard.Controls().Insert(MakeBuiltIn(make, ControlType::Button, b.id, b.caption, b.style, b.beginGroup), 0);
  }

  auto& menu = *bars_.emplace_back(std::make_unique<CommandBar>(this, "Menu Bar", true));
  for (const auto& p : MenuBarPopups()) {
    auto popup = MakeBuiltIn(make, ControlType::Popup, p.id, p.caption, ButtonStyle::Automatic, false);
    for (const auto& b : p.items) {
      popup->Controls().Insert(MakeBuiltIn(make, ControlType::Button, b.id, b.caption, b.style, b.beginGroup), 0);
    }
    menu.Controls().Insert(std::move(popup), 0);
  }

  registry_->members_.push_back(this);
}

CommandBars::~CommandBars() {
  std::erase(registry_->members_, this);
  bars_.clear();
}

CommandBar& CommandBars::Item(std::string_view name) {
  if (CommandBar* bar = Find(name)) return *bar;
  throw HostError("No command bar named \"" + std::string(name) + "\"");
}

CommandBar& CommandBars::Item(int index) {
  if (index < 1 || index > Count()) throw HostError("Command bar index out of range");
  return *bars_[static_cast<std::size_t>(index - 1)];
}

CommandBar* CommandBars::Find(std::string_view name) {
  for (const auto& bar : bars_) {
    if (platform::EqualsIgnoreCase(bar->Name(), name)) return bar.get();
  }
  return nullptr;
}

CommandBar& CommandBars::Add(std::string name) {
  if (name.empty()) throw HostError("A command bar needs a name");
  if (Find(name) != nullptr) throw HostError("A command bar named \"" + name + "\" exists");
  return *bars_.emplace_back(std::make_unique<CommandBar>(this, std::move(name), false));
}

CommandBarControl* CommandBars::FindControl(std::optional<ControlType> type, int id, std::string_view tag) {
  for (const auto& bar : bars_) {
    if (CommandBarControl* c = bar->FindControl(type, id, tag)) return c;
  }
  return nullptr;
}

void CommandBars::RemoveTemporaryControls() {
  for (const auto& bar : bars_) bar->Controls().RemoveTemporary();
}

void CommandBarsRegistry::RemoveTemporaryControls() {
  const auto members = members_;
  for (CommandBars* bars : members) bars->RemoveTemporaryControls();
}

}  // namespace host
