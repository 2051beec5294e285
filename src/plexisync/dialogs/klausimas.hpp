#pragma once
// The four-answer question: caption "Plexisync", the message label
// Praneshimas and the buttons "Yes", "Yes to All", "No", "No to All". Each
// button stores its number in Answer and hides the form. Loaded per
// question and unloaded after it (AskKlausimas, receive/receive_mail.hpp).
#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

class Klausimas : public platform::Form {
 public:
  explicit Klausimas(Context& ctx);

  platform::Label& Praneshimas;
  platform::Button& Command1;  // "Yes"
  platform::Button& Command2;  // "Yes to All"
  platform::Button& Command3;  // "No"
  platform::Button& Command4;  // "No to All"
  // 1 "Yes", 2 "Yes to All", 3 "No", 4 "No to All"; a form closed
  // otherwise keeps 3, the "No" that changes nothing.
  int Answer = 3;

 private:
  void Answered(int answer);
};

}  // namespace plexisync
