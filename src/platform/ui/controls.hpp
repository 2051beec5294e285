#pragma once
// The controls that forms are built from, as models: they hold what the
// person at the screen sees (captions, texts, values, lists) and raise the
// events that the form's code handles. Nothing is drawn here; a user
// interface (platform/ui/user.hpp) shows forms to the person and acts on
// their controls.
//
// Events are std::function members, called on the one user-interface
// thread. As on the classic platform, changing a value from code raises the
// same event as the person's action does (a check box's click, a text box's
// change, a list's click when its list index changes).
//
// Every change that the person could see is reported to the owning form,
// which tells its user interface while the form is visible.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.hpp"

namespace platform {

class Form;

enum class ControlKind {
  kLabel,
  kTextBox,
  kCheckBox,
  kComboBox,
  kListBox,
  kListView,
  kButton,
  kProgressBar,
  kFrame,
  kImage,
  kCommonDialog,
};

// "Label", "TextBox", ...
const char* ControlKindName(ControlKind kind);

class Control {
 public:
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }

  // The caption shown on or beside the control (labels, buttons, check
  // boxes, frames). Controls that hold a text (text box, combo box) keep
  // it in Text(); their caption is unused.
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const std::string& ToolTip() const { return toolTip_; }
  void SetToolTip(std::string toolTip) { toolTip_ = std::move(toolTip); }
  const std::string& Tag() const { return tag_; }
  void SetTag(std::string tag) { tag_ = std::move(tag); }

  // Gives the control the keyboard focus on its form.
  void SetFocus();
  bool HasFocus() const;

  // The form the control belongs to (null before it is added to one).
  Form* Owner() const { return owner_; }

  // What the person sees, as text: kind, name, caption and value, with
  // "(hidden)" or "(disabled)" when so. One line, except for list views,
  // which list their entries on the following lines.
  virtual std::string Describe() const;

 protected:
  Control(ControlKind kind, std::string name, std::string caption = {});
  // Reports a visible change to the owning form.
  void Changed();
  // Calls an event handler, if set, through a copy so that the handler may
  // replace itself while it runs.
  static void Fire(const std::function<void()>& handler);
  // The start of Describe(): kind, name and quoted caption.
  std::string DescribeHead() const;
  // The end of Describe(): hidden/disabled marks.
  std::string DescribeFlags() const;

 private:
  friend class Form;

  ControlKind kind_;
  std::string name_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string toolTip_;
  std::string tag_;
  Form* owner_ = nullptr;
};

class Label final : public Control {
 public:
  explicit Label(std::string name, std::string caption = {})
      : Control(ControlKind::kLabel, std::move(name), std::move(caption)) {}
};

class TextBox final : public Control {
 public:
  explicit TextBox(std::string name, std::string text = {})
      : Control(ControlKind::kTextBox, std::move(name)), text_(std::move(text)) {}

  const std::string& Text() const { return text_; }
  // Raises onChange when the text differs from before.
  void SetText(std::string text);
  std::string Describe() const override;

  std::function<void()> onChange;

 private:
  std::string text_;
};

class CheckBox final : public Control {
 public:
  explicit CheckBox(std::string name, std::string caption = {})
      : Control(ControlKind::kCheckBox, std::move(name), std::move(caption)) {}

  // 0 unchecked, 1 checked.
  int Value() const { return value_; }
  bool Checked() const { return value_ == 1; }
  // Raises onClick when the value changes. Values other than 0 and 1 throw
  // std::invalid_argument.
  void SetValue(int value);
  // The person's click: toggles the value (raising onClick). Ignored, and
  // false returned, when the check box is disabled or hidden.
  bool Click();
  std::string Describe() const override;

  std::function<void()> onClick;

 private:
  int value_ = 0;
};

// Shared by combo boxes and list boxes: a list of texts with one selected
// position. Positions are 0-based; -1 means none.
class ListControl : public Control {
 public:
  // Adds an item at `index` (-1: at the end). In a sorted list the item goes
  // to its place in case-insensitive order whatever `index` says. An index
  // beyond the end throws std::out_of_range.
  void AddItem(std::string item, int index = -1);
  // Removes the item at `index` (std::out_of_range when there is none). The
  // selection follows its item; removing the selected item leaves none
  // selected (a combo box keeps its text).
  void RemoveItem(int index);
  // Removes every item; no item is selected afterwards.
  virtual void Clear();

  int ListCount() const { return static_cast<int>(items_.size()); }
  // The item at `index`; std::out_of_range when there is none.
  const std::string& List(int index) const;
  const std::vector<std::string>& Items() const { return items_; }
  // Where the item added last went; -1 before any and after removals.
  int NewIndex() const { return newIndex_; }

  int ListIndex() const { return listIndex_; }
  // Selects an item (-1: none); raises onClick when the selection changes.
  // Anything below -1 or past the end throws std::out_of_range.
  void SetListIndex(int index);

  bool Sorted() const { return sorted_; }
  // Affects items added afterwards.
  void SetSorted(bool sorted) { sorted_ = sorted; }

  std::function<void()> onClick;

 protected:
  using Control::Control;
  // Called after SetListIndex changed the selection, before onClick.
  virtual void SelectionChanged() {}
  // Moves the selection without SelectionChanged() or a click event.
  void SelectWithoutClick(int index);
  std::string DescribeItems() const;

 private:
  std::vector<std::string> items_;
  int listIndex_ = -1;
  int newIndex_ = -1;
  bool sorted_ = false;
};

class ComboBox final : public ListControl {
 public:
  explicit ComboBox(std::string name) : ListControl(ControlKind::kComboBox, std::move(name)) {}

  // The text in the box: the selected item's text after a selection, or
  // whatever was typed or set.
  const std::string& Text() const { return text_; }
  // Sets the text and raises onChange when it differs. The list index
  // becomes that of the first item equal to the text, or -1; no click.
  void SetText(std::string text);
  // Removes every item and empties the text.
  void Clear() override;
  // The person opens the drop-down list: raises onDropDown.
  bool DropDown();
  std::string Describe() const override;

  std::function<void()> onChange;
  std::function<void()> onDropDown;

 protected:
  void SelectionChanged() override;

 private:
  std::string text_;
};

class ListBox final : public ListControl {
 public:
  explicit ListBox(std::string name) : ListControl(ControlKind::kListBox, std::move(name)) {}

  // The selected item's text; empty when none is selected.
  std::string Text() const;
  std::string Describe() const override;
};

// One entry of a list view.
struct ListItem {
  std::string text;
  // Texts of the further columns: subItems[0] is shown in the second column.
  std::vector<std::string> subItems;
  std::string toolTip;
  std::string tag;
  bool selected = false;

  // Sub-item n, numbered from 1 as the classic list view does (1 = second
  // column); empty when not set. 0 throws std::out_of_range.
  std::string SubItem(std::size_t n) const;
  void SetSubItem(std::size_t n, std::string text);
};

class ListView final : public Control {
 public:
  explicit ListView(std::string name) : Control(ControlKind::kListView, std::move(name)) {}

  const std::vector<std::string>& ColumnHeaders() const { return columns_; }
  void AddColumn(std::string header);
  void ClearColumns();

  std::size_t Count() const { return items_.size(); }
  const std::vector<ListItem>& Items() const { return items_; }
  // Appends an entry. The reference stays valid until the list changes.
  ListItem& Add(std::string text);
  ListItem& Add(ListItem item);
  // Entries by 0-based position; std::out_of_range past the end.
  ListItem& Item(std::size_t index);
  const ListItem& Item(std::size_t index) const;
  void Remove(std::size_t index);
  void Clear();

  // Position of the selected entry, -1 when none. One entry at most is selected.
  int SelectedIndex() const;
  ListItem* SelectedItem();
  const ListItem* SelectedItem() const;
  // Selects one entry (-1: none) without raising onItemClick, as setting
  // the selection from code does. Out of range throws std::out_of_range.
  void Select(int index);
  // The person clicks an entry: selects it and raises onItemClick. False
  // when the list view is disabled or hidden.
  bool ClickItem(std::size_t index);

  // Position of the first entry at or after `start` whose text equals
  // `text`, or with `partial` begins with it; compared case-insensitively
  // as the classic list view does. -1 when none.
  int FindItem(std::string_view text, bool partial = false, std::size_t start = 0) const;
  // Scrolling has no meaning in this model.
  void EnsureVisible(std::size_t /*index*/) {}

  std::string Describe() const override;

  std::function<void()> onItemClick;

 private:
  std::vector<std::string> columns_;
  std::vector<ListItem> items_;
};

class Button final : public Control {
 public:
  explicit Button(std::string name, std::string caption = {})
      : Control(ControlKind::kButton, std::move(name), std::move(caption)) {}

  // The person's click: raises onClick. Ignored, and false returned, when
  // the button is disabled or hidden.
  bool Click();

  // The default button is pressed by Enter, the cancel button by Esc.
  bool IsDefault() const { return default_; }
  void SetDefault(bool isDefault) { default_ = isDefault; }
  bool IsCancel() const { return cancel_; }
  void SetCancel(bool isCancel) { cancel_ = isCancel; }

  std::string Describe() const override;

  std::function<void()> onClick;

 private:
  bool default_ = false;
  bool cancel_ = false;
};

class ProgressBar final : public Control {
 public:
  explicit ProgressBar(std::string name) : Control(ControlKind::kProgressBar, std::move(name)) {}

  int Min() const { return min_; }
  int Max() const { return max_; }
  int Value() const { return value_; }
  // Min and Max accept any value; the value is pulled into the new range.
  void SetMin(int min);
  void SetMax(int max);
  // A value outside Min..Max throws std::out_of_range ("Invalid property value").
  void SetValue(int value);
  // 0..100; 0 when the range is empty.
  int Percent() const;
  std::string Describe() const override;

 private:
  void Clamp();

  int min_ = 0;
  int max_ = 100;
  int value_ = 0;
};

// A captioned group; it names the controls drawn inside it.
class Frame final : public Control {
 public:
  explicit Frame(std::string name, std::string caption = {})
      : Control(ControlKind::kFrame, std::move(name), std::move(caption)) {}

  const std::vector<std::string>& Children() const { return children_; }
  void AddChild(std::string controlName) { children_.push_back(std::move(controlName)); }
  std::string Describe() const override;

 private:
  std::vector<std::string> children_;
};

// An image control holding a picture (icons, the product picture).
class Image final : public Control {
 public:
  explicit Image(std::string name) : Control(ControlKind::kImage, std::move(name)) {}
  Image(std::string name, Bitmap picture)
      : Control(ControlKind::kImage, std::move(name)), picture_(std::move(picture)) {}

  bool HasPicture() const { return picture_.has_value(); }
  // Null when there is none.
  const Bitmap* Picture() const { return picture_ ? &*picture_ : nullptr; }
  void SetPicture(Bitmap picture);
  void ClearPicture();
  std::string Describe() const override;

 private:
  std::optional<Bitmap> picture_;
};

// The common file dialog: a control that is never drawn on its form. Its
// properties prepare the dialog; ShowOpen and ShowSave put it to the person
// through the owning form's user interface and leave the chosen file's full
// name in FileName and its name without the folder in FileTitle, both empty
// when the person cancelled.
class CommonDialog final : public Control {
 public:
  explicit CommonDialog(std::string name) : Control(ControlKind::kCommonDialog, std::move(name)) {
    SetVisible(false);
  }

  const std::string& DialogTitle() const { return dialogTitle_; }
  void SetDialogTitle(std::string title) { dialogTitle_ = std::move(title); }
  const std::string& InitDir() const { return initDir_; }
  void SetInitDir(std::string dir) { initDir_ = std::move(dir); }
  int Flags() const { return flags_; }
  void SetFlags(int flags) { flags_ = flags; }
  // Before a Show: the name the dialog starts with; after it: the choice.
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string name) { fileName_ = std::move(name); }
  const std::string& FileTitle() const { return fileTitle_; }
  // Added to a chosen name without an extension (".pst" or "pst").
  const std::string& DefaultExt() const { return defaultExt_; }
  void SetDefaultExt(std::string ext) { defaultExt_ = std::move(ext); }
  // Description and pattern pairs separated by "|".
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string filter) { filter_ = std::move(filter); }

  // Shows the dialog for choosing a file to open or to save. std::logic_error
  // when the control belongs to no form or its form has no user interface.
  void ShowOpen();
  void ShowSave();

  std::string Describe() const override;

 private:
  void Run(bool save);

  std::string dialogTitle_;
  std::string initDir_;
  int flags_ = 0;
  std::string fileName_;
  std::string fileTitle_;
  std::string defaultExt_;
  std::string filter_;
};

}  // namespace platform
