// Composing the update mail of a folder of 5,000 contacts with two
// recipients:
//   - every contact new (none in the folder's list, no mapping entries, so
//     every contact gets its identity entry and a record): goal under 300 ms;
//   - nothing changed since the last send (no mail is made, the list is
//     rewritten with what it holds): goal under 30 ms.
// The key store is the program's (the sole user's hive). Each iteration
// starts from the same stored state; the setup checks what the composition
// produced and aborts the run when it is not what the case stands for.
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
#include "plexisync/core/context.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace {

using namespace plexisync;

constexpr int kContacts = 5000;

class NoTransport : public host::Transport {
 public:
  void Send(const host::MailMessage&, const std::vector<std::string>&) override {}
  std::unique_ptr<host::FetchedMail> Fetch(const std::string&) override { return std::make_unique<host::NoMail>(); }
};

// A machine: a profile in a fresh temporary folder, the client on it and an
// add-in context as the program makes it, with a shared folder of kContacts
// contacts and two recipients.
class Machine {
 public:
  Machine() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "update-mail-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    profile_ = std::make_unique<host::Profile>(
        host::Profile::Create(dir_ / "p", "Bench", "bench@example.org", dir_ / "po"));
    hive_ = profile_->OpenKeyStore(platform::KeyStore::Sharing::kSoleUser);
    app = std::make_unique<host::Application>(*profile_, host::HostServices{clock_, user_, transport_, *hive_, zone_});
    ctx = std::make_unique<Context>(AddinServices{user_, clock_, zone_, [this](std::int32_t root) {
                                                    return root == HKEY_CURRENT_USER ? hive_.get() : nullptr;
                                                  }});
    ctx->App = app.get();
    ctx->Reg = std::make_unique<CRegistry>(ctx->svc.hives);
    ctx->Reg->Init(HKEY_CURRENT_USER);
    ctx->RegKey = std::string(kProductKey) + Get_Profile();
    ctx->InstDir = profile_->InstallDirText();

    auto contacts = app->Session()->GetDefaultFolder(host::kFolderContacts);
    folder = contacts->Folders()->Add("Shared", host::kFolderTypeContacts);
    folderId = folder->EntryID();
    auto items = folder->Items();
    for (int i = 0; i < kContacts; ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Add("IPM.Contact"));
      c->SetFullName("Contact " + std::to_string(i));
      c->SetFirstName("Contact");
      c->SetLastName(std::to_string(i));
      c->SetCompanyName("Company " + std::to_string(i % 97));
      c->SetEmail1Address("contact" + std::to_string(i) + "@example.org");
      c->SetProperty("BusinessTelephoneNumber", std::string("+1 555 0100 ") + std::to_string(i));
      c->SetProperty("BusinessAddress", std::string("1 Main Street\r\nSpringfield"));
      c->SetBody("Met at the fair, " + std::to_string(i) + ".");
      c->Save();
    }
    for (const char* who : {"ann", "bob"}) {
      auto r = std::dynamic_pointer_cast<host::ContactItem>(contacts->Items()->Add("IPM.Contact"));
      r->SetFullName(who);
      r->Save();
      recipients.push_back(r->EntryID());
      Update_Entry(*ctx, folderId, r->EntryID(), who, true, std::string(who) + "@example.org");
    }
    clock_.Advance(60);
  }
  ~Machine() {
    folder.reset();
    ctx.reset();
    app.reset();
    hive_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Setting(const char* name, const char* value) { ctx->reg().SetValue(ctx->RegKey, name, std::string(value), 1); }
  void Forget() {
    ctx->reg().DeleteKey(ListKeyPath(*ctx, folderId));
    ctx->reg().DeleteKey(MappingKeyPath(*ctx, folderId));
    for (const auto& r : recipients) {
      ctx->reg().SetValue(RecipientKeyPath(*ctx, folderId, r), "LastUpdate", std::string(kNeverUpdated), 1);
    }
  }
  std::size_t ListSize() { return ctx->reg().GetAllValueNames(ListKeyPath(*ctx, folderId)).size(); }

  std::unique_ptr<host::Application> app;
  std::unique_ptr<Context> ctx;
  std::shared_ptr<host::Folder> folder;
  std::string folderId;
  std::vector<std::string> recipients;

 private:
  std::filesystem::path dir_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  platform::ScriptedUser user_;
  NoTransport transport_;
  std::unique_ptr<host::Profile> profile_;
  std::unique_ptr<platform::KeyStore> hive_;
};

std::size_t Records(const std::shared_ptr<host::MailItem>& mail, Machine& m) {
  if (!mail || mail->Attachments()->Count() != 1) return 0;
  const std::string path = m.ctx->InstallFile("check.pxs");
  mail->Attachments()->Item(1)->SaveAsFile(path);
  const std::string body = FileToString(*m.ctx, path);
  std::size_t n = 0;
  for (auto at = body.find(":StartOfContact:"); at != std::string::npos; at = body.find(":StartOfContact:", at + 1)) ++n;
  return n;
}

// Every contact new: the mail proper carries all of them (the export to a
// file is off, so that both recipients get the records).
void BM_UpdateMail_EveryContactNew(benchmark::State& state) {
  Machine m;
  m.Setting("Export", "0");
  std::size_t records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    m.Forget();
    state.ResumeTiming();
    CUpdateMail u(*m.ctx);
    auto mail = u.CreateUpdateMail(m.folder);
    state.PauseTiming();
    records = Records(mail, m);
    if (records != kContacts || m.ListSize() != kContacts) {
      state.SkipWithError("the mail does not carry every contact");
      break;
    }
    state.ResumeTiming();
  }
  state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_UpdateMail_EveryContactNew)->Unit(benchmark::kMillisecond);

// Nothing changed since the last send: no mail, the list stays.
void BM_UpdateMail_NothingChanged(benchmark::State& state) {
  Machine m;
  {
    m.Setting("Export", "0");
    CUpdateMail first(*m.ctx);
    if (Records(first.CreateUpdateMail(m.folder), m) != kContacts) {
      state.SkipWithError("the first send does not carry every contact");
      return;
    }
    first.SetLastUpdates();
    m.Setting("Export", "1");
  }
  for (auto _ : state) {
    CUpdateMail u(*m.ctx);
    auto mail = u.CreateUpdateMail(m.folder);
    if (mail || u.ImportMail() || u.Clients().size() != 2 || u.MailRecipients().size() != 2) {
      state.SkipWithError("a folder without changes gave a mail");
      break;
    }
  }
  if (m.ListSize() != kContacts) state.SkipWithError("the list lost contacts");
}
BENCHMARK(BM_UpdateMail_NothingChanged)->Unit(benchmark::kMillisecond);

}  // namespace
