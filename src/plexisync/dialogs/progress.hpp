#pragma once
// The shared progress window: label `Message`, progress bar `TheBar`.
// A long operation sets the message, the bar's maximum and value 0, shows
// the window modelessly, advances the bar per entry and hides the window.
#include <optional>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"
#include "plexisync/dialogs/product.hpp"

namespace plexisync {

class ProgressForm : public platform::Form {
 public:
  ProgressForm()
      : Form("Progress", kProductTitle), message_(Add<platform::Label>("Message")),
        bar_(Add<platform::ProgressBar>("TheBar")) {}

  platform::Label& Message() { return message_; }
  platform::ProgressBar& TheBar() { return bar_; }

  std::optional<ProgressView> AsProgressView() const override { return ProgressView{&message_, &bar_}; }

 private:
  platform::Label& message_;
  platform::ProgressBar& bar_;
};

}  // namespace plexisync
