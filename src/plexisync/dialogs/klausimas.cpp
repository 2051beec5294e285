#include "plexisync/dialogs/klausimas.hpp"

#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/receive/receive_mail.hpp"

namespace plexisync {

Klausimas::Klausimas(Context& ctx)
    : Form("Klausimas", kProductTitle),
      Praneshimas(Add<platform::Label>("Praneshimas")),
      Command1(Add<platform::Button>("Command1", QuestionButtonCaptions()[0])),
      Command2(Add<platform::Button>("Command2", QuestionButtonCaptions()[1])),
      Command3(Add<platform::Button>("Command3", QuestionButtonCaptions()[2])),
      Command4(Add<platform::Button>("Command4", QuestionButtonCaptions()[3])) {
  Command1.SetDefault(true);
  // Closing the question any other way is the "No" that keeps everything.
  Command3.SetCancel(true);
  Command1.onClick = [this] { Answered(kAnswerYes); };
  Command2.onClick = [this] { Answered(kAnswerYesToAll); };
  Command3.onClick = [this] { Answered(kAnswerNo); };
  Command4.onClick = [this] { Answered(kAnswerNoToAll); };
  SetUser(&ctx.svc.user);
}

void Klausimas::Answered(int answer) {
  Answer = answer;
  Hide();
}

int AskKlausimas(Context& ctx, const std::string& question) {
  Klausimas form(ctx);
  form.Praneshimas.SetCaption(question);
  form.Show(true);
  const int answer = form.Answer;
  form.Unload();
  return answer;
}

}  // namespace plexisync
