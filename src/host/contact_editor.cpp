// The contact editor the client shows for ContactItem::Display.
#include "host/core.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace host {
namespace {

// The fields the editor shows, each in a text box named after its property.
constexpr const char* kEditorFields[] = {
    "FullName",    "FirstName",     "LastName",       "CompanyName",         "JobTitle", "Email1Address",
    "BusinessTelephoneNumber", "HomeTelephoneNumber", "MobileTelephoneNumber", "BusinessAddress", "Body"};

class ContactEditorForm : public platform::Form {
 public:
  ContactEditorForm(std::shared_ptr<ContactItem> contact, std::function<void(ContactEditorForm&)> save)
      : Form("ContactEditor", "Untitled - Contact"), contact_(std::move(contact)), save_(std::move(save)) {
    for (const char* field : kEditorFields) Add<platform::TextBox>(field);
    auto& ok = Add<platform::Button>("SaveAndClose", "Save and Close");
    auto& cancel = Add<platform::Button>("Cancel", "Cancel");
    ok.SetDefault(true);
    cancel.SetCancel(true);
    ok.onClick = [this] {
      save_(*this);
      Hide();
    };
    cancel.onClick = [this] { Hide(); };
  }
  const std::shared_ptr<ContactItem>& Contact() const { return contact_; }

 private:
  std::shared_ptr<ContactItem> contact_;
  std::function<void(ContactEditorForm&)> save_;
};

}  // namespace

void ContactItem::Display(bool modal) {
  Check("Display");
  auto self = std::static_pointer_cast<ContactItem>(shared_from_this());
  auto core = core_;
  auto form = std::make_unique<ContactEditorForm>(self, [core](ContactEditorForm& f) {
    // The person's own edit: no prompt, and a failure is shown, not thrown.
    CallerMode previous = core->mode;
    core->mode = CallerMode::kPerson;
    try {
      for (const char* field : kEditorFields) {
        f.Contact()->SetProperty(field, f.Get<platform::TextBox>(field).Text());
      }
      f.Contact()->Save();
    } catch (const std::exception& e) {
      core->services.ui.MessageBox(std::string("The contact could not be saved: ") + e.what(), "Contact",
                                   platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Critical);
    }
    core->mode = previous;
  });
  form->SetUser(&core_->services.ui);
  std::string fullName;
  for (const char* field : kEditorFields) {
    std::string value = VariantToText(ReadProperty(field, false));
    if (std::string_view(field) == "FullName") fullName = value;
    form->Get<platform::TextBox>(field).SetText(value);
  }
  form->SetCaption(fullName.empty() ? "Untitled - Contact" : fullName + " - Contact");
  if (modal) {
    form->Show(true);
    form->Unload();
    return;
  }
  form->Show(false);
  core_->openForms.push_back(std::move(form));
}

}  // namespace host
