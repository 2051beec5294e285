// Mail client store speed: saving 5,000 contacts into a folder (goal: under
// 1 s), and restricting them by the contact filter and walking the result
// (goal: under 100 ms).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host/object_model.hpp"
#include "host/transport/transport.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/ui/user.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace {

constexpr int kContacts = 5000;
constexpr const char* kContactFilter =
    "[MessageClass]=\"IPM.Contact\" or [MessageClass]=\"IPM.Contact.GroupContact\" or "
    "[MessageClass]=\"IPM.Contact.GroupWorkers\"";

class NoTransport : public host::Transport {
 public:
  void Send(const host::MailMessage&, const std::vector<std::string>&) override {}
  std::unique_ptr<host::FetchedMail> Fetch(const std::string&) override {
    return std::make_unique<host::NoMail>();
  }
};

// A profile in a fresh temporary folder with the client running on it.
class Client {
 public:
  Client() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "host-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    profile_ = std::make_unique<host::Profile>(
        host::Profile::Create(dir_ / "p", "Bench", "bench@example.org", dir_ / "po"));
    keys_ = profile_->OpenKeyStore();
    app = std::make_unique<host::Application>(*profile_, host::HostServices{clock_, user_, transport_, *keys_, zone_});
    session = app->Session();
  }
  ~Client() {
    session.reset();
    app.reset();
    keys_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::shared_ptr<host::Folder> NewFolder(const std::string& name) {
    return session->GetDefaultFolder(host::kFolderContacts)->Folders()->Add(name, host::kFolderTypeContacts);
  }
  void Fill(const std::shared_ptr<host::Folder>& folder) {
    auto items = folder->Items();
    for (int i = 0; i < kContacts; ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Add("IPM.Contact"));
      c->SetFullName("Contact " + std::to_string(i));
      c->SetCompanyName("Company " + std::to_string(i % 97));
      c->SetEmail1Address("contact" + std::to_string(i) + "@example.org");
      c->SetProperty("BusinessTelephoneNumber", std::string("+1 555 0100 ") + std::to_string(i));
      c->SetUser3(std::string(48, 'A'));
      c->SetUser4(i % 2 ? "Plexisync" : "");
      c->Save();
    }
  }

  std::unique_ptr<host::Application> app;
  std::shared_ptr<host::NameSpace> session;

 private:
  std::filesystem::path dir_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  platform::ScriptedUser user_;
  NoTransport transport_;
  std::unique_ptr<host::Profile> profile_;
  std::unique_ptr<platform::KeyStore> keys_;
};

void BM_Save5000Contacts(benchmark::State& state) {
  Client client;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto folder = client.NewFolder("Round " + std::to_string(round++));
    state.ResumeTiming();
    client.Fill(folder);
  }
  state.SetItemsProcessed(state.iterations() * kContacts);
}
BENCHMARK(BM_Save5000Contacts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RestrictAndWalk5000Contacts(benchmark::State& state) {
  Client client;
  auto folder = client.NewFolder("Shared");
  client.Fill(folder);
  for (auto _ : state) {
    auto items = folder->Items()->Restrict(kContactFilter);
    std::size_t marked = 0;
    for (auto item = items->GetFirst(); item; item = items->GetNext()) {
      auto contact = std::static_pointer_cast<host::ContactItem>(item);
      if (contact->User4() == "Plexisync") ++marked;
      benchmark::DoNotOptimize(contact->EntryID());
    }
    if (marked != kContacts / 2) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(state.iterations() * kContacts);
}
BENCHMARK(BM_RestrictAndWalk5000Contacts)->Unit(benchmark::kMillisecond);

}  // namespace
