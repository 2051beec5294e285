#include "platform/ui/form.hpp"

#include "platform/text.hpp"
#include "platform/ui/user.hpp"

namespace platform {

namespace {

UserInterface* g_defaultUser = nullptr;

}  // namespace

UserInterface* DefaultUser() { return g_defaultUser; }
void SetDefaultUser(UserInterface* user) { g_defaultUser = user; }

std::string PlainCaption(std::string_view caption) {
  std::string out;
  out.reserve(caption.size());
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      // "&&" shows one ampersand; a single one marks the access key.
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

Form::Form(std::string name, std::string caption)
    : name_(std::move(name)), caption_(std::move(caption)) {}

Form::~Form() {
  // The user interface is not told: it may already be gone.
  for (auto& c : controls_) {
    c->owner_ = nullptr;
  }
}

void Form::SetCaption(std::string caption) { caption_ = std::move(caption); }

void Form::Adopt(std::unique_ptr<Control> control) {
  if (Find(control->Name()) != nullptr) {
    throw std::invalid_argument("Form " + name_ + " already has a control named " +
                                control->Name());
  }
  control->owner_ = this;
  controls_.push_back(std::move(control));
}

std::vector<Control*> Form::Controls() const {
  std::vector<Control*> out;
  out.reserve(controls_.size());
  for (const auto& c : controls_) {
    out.push_back(c.get());
  }
  return out;
}

Control* Form::Find(std::string_view name) const {
  for (const auto& c : controls_) {
    if (EqualsIgnoreCase(c->Name(), name)) {
      return c.get();
    }
  }
  return nullptr;
}

Control& Form::Get(std::string_view name) const {
  if (Control* c = Find(name)) {
    return *c;
  }
  throw std::out_of_range("Form " + name_ + " has no control named " + std::string(name));
}

UserInterface* Form::User() const { return user_ != nullptr ? user_ : DefaultUser(); }

void Form::Load() {
  if (loaded_) {
    return;
  }
  loaded_ = true;
  OnLoad();
}

void Form::Unload() {
  if (!loaded_) {
    return;
  }
  Hide();
  loaded_ = false;
  OnTerminate();
}

void Form::Show(bool modal) {
  if (modal) {
    UserInterface* ui = User();
    if (ui == nullptr) {
      throw std::logic_error("No user interface to show form " + name_ + " modally");
    }
    if (visible_) {
      throw std::logic_error("Form already displayed; can't show modally");
    }
    Load();
    if (!loaded_) {
      return;  // the load hook unloaded the form again
    }
    visible_ = true;
    modal_ = true;
    struct ModalEnd {
      Form& form;
      ~ModalEnd() {
        form.modal_ = false;
        // A modal show ends with the form hidden, whatever the user interface did.
        if (form.visible_) {
          form.Hide();
        }
      }
    } end{*this};
    ui->RunModal(*this);
    return;
  }
  Load();
  if (!loaded_ || visible_) {
    return;
  }
  visible_ = true;
  if (UserInterface* ui = User()) {
    ui->FormShown(*this);
  }
}

void Form::Hide() {
  if (!visible_) {
    return;
  }
  visible_ = false;
  if (UserInterface* ui = User()) {
    ui->FormHidden(*this);
  }
}

void Form::ControlChanged(const Control& control) {
  if (!visible_) {
    return;
  }
  if (UserInterface* ui = User()) {
    ui->FormChanged(*this, control);
  }
}

Button* Form::DefaultButton() const {
  for (const auto& c : controls_) {
    if (auto* b = dynamic_cast<Button*>(c.get()); b != nullptr && b->IsDefault()) {
      return b;
    }
  }
  return nullptr;
}

Button* Form::CancelButton() const {
  for (const auto& c : controls_) {
    if (auto* b = dynamic_cast<Button*>(c.get()); b != nullptr && b->IsCancel()) {
      return b;
    }
  }
  for (const char* caption : {"Cancel", "No", "No to All"}) {
    for (const auto& c : controls_) {
      if (auto* b = dynamic_cast<Button*>(c.get());
          b != nullptr && EqualsIgnoreCase(PlainCaption(b->Caption()), caption)) {
        return b;
      }
    }
  }
  return nullptr;
}

Button* Form::ButtonWithCaption(std::string_view caption) const {
  for (const auto& c : controls_) {
    if (auto* b = dynamic_cast<Button*>(c.get());
        b != nullptr && EqualsIgnoreCase(PlainCaption(b->Caption()), caption)) {
      return b;
    }
  }
  return nullptr;
}

Button* Form::FindButton(std::string_view captionOrName) const {
  if (Button* b = ButtonWithCaption(captionOrName)) {
    return b;
  }
  return dynamic_cast<Button*>(Find(captionOrName));
}

std::string Form::Describe() const {
  std::string s = "Form " + name_ + " \"" + caption_ + "\"";
  for (const auto& c : controls_) {
    if (c->Visible()) {
      s += "\n  " + c->Describe();
    }
  }
  return s;
}

}  // namespace platform
