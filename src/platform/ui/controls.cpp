#include "platform/ui/controls.hpp"

#include <algorithm>
#include <stdexcept>

#include "platform/text.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace platform {

namespace {

// Built by appending: GCC 12 at -O2 and above reports a false -Wrestrict
// on `"literal" + std::string&&`.
std::string Quote(std::string_view s) {
  std::string quoted;
  quoted.reserve(s.size() + 2);
  quoted += '"';
  quoted += s;
  quoted += '"';
  return quoted;
}

void CheckListIndex(int index, int count) {
  if (index < -1 || index >= count) {
    throw std::out_of_range("Invalid property array index");
  }
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel: return "Label";
    case ControlKind::kTextBox: return "TextBox";
    case ControlKind::kCheckBox: return "CheckBox";
    case ControlKind::kComboBox: return "ComboBox";
    case ControlKind::kListBox: return "ListBox";
    case ControlKind::kListView: return "ListView";
    case ControlKind::kButton: return "Button";
    case ControlKind::kProgressBar: return "ProgressBar";
    case ControlKind::kFrame: return "Frame";
    case ControlKind::kImage: return "Image";
    case ControlKind::kCommonDialog: return "CommonDialog";
  }
  return "Control";
}

// --- Control ---------------------------------------------------------------

Control::Control(ControlKind kind, std::string name, std::string caption)
    : kind_(kind), name_(std::move(name)), caption_(std::move(caption)) {}

void Control::SetCaption(std::string caption) {
  if (caption == caption_) {
    return;
  }
  caption_ = std::move(caption);
  Changed();
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) {
    return;
  }
  visible_ = visible;
  Changed();
}

void Control::SetEnabled(bool enabled) {
  if (enabled == enabled_) {
    return;
  }
  enabled_ = enabled;
  Changed();
}

void Control::SetFocus() {
  if (owner_ != nullptr) {
    owner_->SetFocused(this);
  }
}

bool Control::HasFocus() const { return owner_ != nullptr && owner_->FocusedControl() == this; }

void Control::Changed() {
  if (owner_ != nullptr) {
    owner_->ControlChanged(*this);
  }
}

void Control::Fire(const std::function<void()>& handler) {
  if (handler) {
    auto copy = handler;
    copy();
  }
}

std::string Control::DescribeHead() const {
  std::string s = std::string(ControlKindName(kind_)) + " " + name_;
  if (!caption_.empty()) {
    s += ' ';
    s += Quote(caption_);
  }
  return s;
}

std::string Control::DescribeFlags() const {
  std::string s;
  if (!visible_) {
    s += " (hidden)";
  }
  if (!enabled_) {
    s += " (disabled)";
  }
  return s;
}

std::string Control::Describe() const { return DescribeHead() + DescribeFlags(); }

// --- TextBox ---------------------------------------------------------------

void TextBox::SetText(std::string text) {
  if (text == text_) {
    return;
  }
  text_ = std::move(text);
  Changed();
  Fire(onChange);
}

std::string TextBox::Describe() const {
  return DescribeHead() + ": " + Quote(text_) + DescribeFlags();
}

// --- CheckBox --------------------------------------------------------------

void CheckBox::SetValue(int value) {
  if (value != 0 && value != 1) {
    throw std::invalid_argument("Invalid property value");
  }
  if (value == value_) {
    return;
  }
  value_ = value;
  Changed();
  Fire(onClick);
}

bool CheckBox::Click() {
  if (!Enabled() || !Visible()) {
    return false;
  }
  SetValue(1 - value_);
  return true;
}

std::string CheckBox::Describe() const {
  return DescribeHead() + ": " + (value_ == 1 ? "[x]" : "[ ]") + DescribeFlags();
}

// --- ListControl -----------------------------------------------------------

void ListControl::AddItem(std::string item, int index) {
  const int count = ListCount();
  int at;
  if (sorted_) {
    const std::string key = FoldCase(item);
    auto pos = std::upper_bound(items_.begin(), items_.end(), key,
                                [](const std::string& k, const std::string& existing) {
                                  return k < FoldCase(existing);
                                });
    at = static_cast<int>(pos - items_.begin());
  } else if (index == -1) {
    at = count;
  } else if (index < 0 || index > count) {
    throw std::out_of_range("Invalid procedure call or argument");
  } else {
    at = index;
  }
  items_.insert(items_.begin() + at, std::move(item));
  newIndex_ = at;
  if (listIndex_ >= at) {
    ++listIndex_;
  }
  Changed();
}

void ListControl::RemoveItem(int index) {
  if (index < 0 || index >= ListCount()) {
    throw std::out_of_range("Invalid procedure call or argument");
  }
  items_.erase(items_.begin() + index);
  newIndex_ = -1;
  if (listIndex_ == index) {
    listIndex_ = -1;
  } else if (listIndex_ > index) {
    --listIndex_;
  }
  Changed();
}

void ListControl::Clear() {
  items_.clear();
  newIndex_ = -1;
  listIndex_ = -1;
  Changed();
}

const std::string& ListControl::List(int index) const {
  if (index < 0 || index >= ListCount()) {
    throw std::out_of_range("Invalid property array index");
  }
  return items_[static_cast<std::size_t>(index)];
}

void ListControl::SetListIndex(int index) {
  CheckListIndex(index, ListCount());
  if (index == listIndex_) {
    return;
  }
  listIndex_ = index;
  SelectionChanged();
  Changed();
  Fire(onClick);
}

void ListControl::SelectWithoutClick(int index) {
  CheckListIndex(index, ListCount());
  if (index != listIndex_) {
    listIndex_ = index;
    Changed();
  }
}

std::string ListControl::DescribeItems() const {
  std::string s;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    s += i == 0 ? " [" : ", ";
    if (static_cast<int>(i) == listIndex_) {
      s += "*";
    }
    s += std::to_string(i) + " " + Quote(items_[i]);
  }
  if (!items_.empty()) {
    s += "]";
  }
  return s;
}

// --- ComboBox --------------------------------------------------------------

void ComboBox::SetText(std::string text) {
  const bool changed = text != text_;
  text_ = std::move(text);
  int match = -1;
  for (int i = 0; i < ListCount(); ++i) {
    if (List(i) == text_) {
      match = i;
      break;
    }
  }
  if (match != ListIndex()) {
    SelectWithoutClick(match);
  }
  if (changed) {
    Changed();
    Fire(onChange);
  }
}

void ComboBox::Clear() {
  ListControl::Clear();
  if (!text_.empty()) {
    text_.clear();
    Changed();
  }
}

void ComboBox::SelectionChanged() {
  text_ = ListIndex() >= 0 ? List(ListIndex()) : std::string();
}

bool ComboBox::DropDown() {
  if (!Enabled() || !Visible()) {
    return false;
  }
  Fire(onDropDown);
  return true;
}

std::string ComboBox::Describe() const {
  return DescribeHead() + ": " + Quote(text_) + DescribeItems() + DescribeFlags();
}

// --- ListBox ---------------------------------------------------------------

std::string ListBox::Text() const { return ListIndex() >= 0 ? List(ListIndex()) : std::string(); }

std::string ListBox::Describe() const {
  return DescribeHead() + ": " + std::to_string(ListCount()) + " item(s)" + DescribeItems() +
         DescribeFlags();
}

// --- ListView --------------------------------------------------------------

std::string ListItem::SubItem(std::size_t n) const {
  if (n == 0) {
    throw std::out_of_range("Sub-items are numbered from 1");
  }
  return n <= subItems.size() ? subItems[n - 1] : std::string();
}

void ListItem::SetSubItem(std::size_t n, std::string text) {
  if (n == 0) {
    throw std::out_of_range("Sub-items are numbered from 1");
  }
  if (subItems.size() < n) {
    subItems.resize(n);
  }
  subItems[n - 1] = std::move(text);
}

void ListView::AddColumn(std::string header) {
  columns_.push_back(std::move(header));
  Changed();
}

void ListView::ClearColumns() {
  columns_.clear();
  Changed();
}

ListItem& ListView::Add(std::string text) {
  ListItem item;
  item.text = std::move(text);
  return Add(std::move(item));
}

ListItem& ListView::Add(ListItem item) {
  if (item.selected) {
    for (auto& existing : items_) {
      existing.selected = false;
    }
  }
  items_.push_back(std::move(item));
  Changed();
  return items_.back();
}

ListItem& ListView::Item(std::size_t index) {
  if (index >= items_.size()) {
    throw std::out_of_range("Index out of bounds");
  }
  return items_[index];
}

const ListItem& ListView::Item(std::size_t index) const {
  if (index >= items_.size()) {
    throw std::out_of_range("Index out of bounds");
  }
  return items_[index];
}

void ListView::Remove(std::size_t index) {
  if (index >= items_.size()) {
    throw std::out_of_range("Index out of bounds");
  }
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void ListView::Clear() {
  items_.clear();
  Changed();
}

int ListView::SelectedIndex() const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].selected) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

ListItem* ListView::SelectedItem() {
  const int i = SelectedIndex();
  return i < 0 ? nullptr : &items_[static_cast<std::size_t>(i)];
}

const ListItem* ListView::SelectedItem() const {
  const int i = SelectedIndex();
  return i < 0 ? nullptr : &items_[static_cast<std::size_t>(i)];
}

void ListView::Select(int index) {
  CheckListIndex(index, static_cast<int>(items_.size()));
  for (std::size_t i = 0; i < items_.size(); ++i) {
    items_[i].selected = static_cast<int>(i) == index;
  }
  Changed();
}

bool ListView::ClickItem(std::size_t index) {
  if (!Enabled() || !Visible() || index >= items_.size()) {
    return false;
  }
  Select(static_cast<int>(index));
  Fire(onItemClick);
  return true;
}

int ListView::FindItem(std::string_view text, bool partial, std::size_t start) const {
  for (std::size_t i = start; i < items_.size(); ++i) {
    const std::string& t = items_[i].text;
    if (partial ? StartsWithIgnoreCase(t, text) : EqualsIgnoreCase(t, text)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string ListView::Describe() const {
  std::string s = DescribeHead();
  if (!columns_.empty()) {
    s += " (";
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      s += (i ? " | " : "") + columns_[i];
    }
    s += ")";
  }
  s += ": " + std::to_string(items_.size()) + " item(s)" + DescribeFlags();
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const ListItem& item = items_[i];
    s += "\n    " + std::string(item.selected ? "*" : " ") + std::to_string(i) + " " + item.text;
    for (const auto& sub : item.subItems) {
      s += " | " + sub;
    }
  }
  return s;
}

// --- Button ----------------------------------------------------------------

bool Button::Click() {
  if (!Enabled() || !Visible()) {
    return false;
  }
  Fire(onClick);
  return true;
}

std::string Button::Describe() const {
  std::string s = DescribeHead();
  if (default_) {
    s += " [default]";
  }
  if (cancel_) {
    s += " [cancel]";
  }
  return s + DescribeFlags();
}

// --- ProgressBar -----------------------------------------------------------

void ProgressBar::Clamp() { value_ = std::clamp(value_, std::min(min_, max_), std::max(min_, max_)); }

void ProgressBar::SetMin(int min) {
  if (min == min_) {
    return;
  }
  min_ = min;
  Clamp();
  Changed();
}

void ProgressBar::SetMax(int max) {
  if (max == max_) {
    return;
  }
  max_ = max;
  Clamp();
  Changed();
}

void ProgressBar::SetValue(int value) {
  if (value < std::min(min_, max_) || value > std::max(min_, max_)) {
    throw std::out_of_range("Invalid property value");
  }
  if (value == value_) {
    return;
  }
  value_ = value;
  Changed();
}

int ProgressBar::Percent() const {
  if (max_ <= min_) {
    return 0;
  }
  const long long done = static_cast<long long>(value_) - min_;
  const long long range = static_cast<long long>(max_) - min_;
  return static_cast<int>(done * 100 / range);
}

std::string ProgressBar::Describe() const {
  return DescribeHead() + ": " + std::to_string(value_) + " of " + std::to_string(min_) + ".." +
         std::to_string(max_) + " (" + std::to_string(Percent()) + "%)" + DescribeFlags();
}

// --- Frame, Image ----------------------------------------------------------

std::string Frame::Describe() const {
  std::string s = DescribeHead();
  if (!children_.empty()) {
    s += ":";
    for (std::size_t i = 0; i < children_.size(); ++i) {
      s += (i ? ", " : " ") + children_[i];
    }
  }
  return s + DescribeFlags();
}

void Image::SetPicture(Bitmap picture) {
  picture_ = std::move(picture);
  Changed();
}

void Image::ClearPicture() {
  if (picture_) {
    picture_.reset();
    Changed();
  }
}

std::string Image::Describe() const {
  std::string s = DescribeHead() + ": ";
  s += picture_ ? std::to_string(picture_->Width()) + "x" + std::to_string(picture_->Height()) +
                      " picture"
                : "no picture";
  return s + DescribeFlags();
}

// --- CommonDialog ----------------------------------------------------------

void CommonDialog::ShowOpen() { Run(false); }
void CommonDialog::ShowSave() { Run(true); }

void CommonDialog::Run(bool save) {
  Form* form = Owner();
  UserInterface* user = form ? form->User() : nullptr;
  if (user == nullptr) {
    throw std::logic_error("CommonDialog " + Name() + " has no user interface to ask");
  }
  FileDialogRequest request;
  request.mode = save ? FileDialogMode::Save : FileDialogMode::Open;
  request.title = dialogTitle_;
  request.initialDir = initDir_;
  request.filter = filter_;
  request.defaultExt = defaultExt_;
  request.flags = flags_;
  request.fileName = fileName_;
  FileDialogResult result = user->FileDialog(request);
  if (result.cancelled) {
    fileName_.clear();
    fileTitle_.clear();
    return;
  }
  fileName_ = std::move(result.fileName);
  fileTitle_ = std::move(result.fileTitle);
}

std::string CommonDialog::Describe() const {
  std::string s = DescribeHead();
  if (!dialogTitle_.empty()) {
    s += " title ";
    s += Quote(dialogTitle_);
  }
  if (!fileName_.empty()) {
    s += " file ";
    s += Quote(fileName_);
  }
  return s + DescribeFlags();
}

}  // namespace platform
