// Writes update mails for the receive_mail seed corpus through the add-in's
// own send path: an owner ("Olive Owner" <olive@example.org>, the sender the
// receive_mail target gives every mail) shares contacts folders with a few
// recipients and presses Update after each round of changes; every update
// mail that reaches the transport is written as OUT_DIR/<round>.pxs (the text
// of its "body.pxs"), an import mail as OUT_DIR/<round>_import.pxs.
//   receive_seed OUT_DIR
// The rounds, in order: the first share of "Team" (five contacts, two
// recipients; also the mail the target applies before fuzzing), changes,
// a deletion, an addition, a changed recipients list, an update without
// comments, a mixed update, a subfolder and a second folder shared, and
// "Team" grown past the export threshold, which sends the import mail.
// fuzz/tools/make_receive_seeds.sh runs it.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "support/manual_clock.hpp"
#include "support/memory_transport.hpp"

namespace {

namespace fs = std::filesystem;
using plexisync::HKEY_CURRENT_USER;

// The owner at the screen: every file dialog (the export of the import round)
// is answered with `exportFile`, message boxes with OK or the answer that
// changes nothing, forms are closed with their cancel button. Everything
// asked is printed, so that a changed send path shows in the script's output.
class OwnerUser final : public platform::UserInterface {
 public:
  OwnerUser() : UserInterface("Plexisync") {}
  std::string exportFile;

 protected:
  platform::MsgBoxResult AnswerMessage(const platform::MessageRequest& request) override {
    std::fprintf(stderr, "receive_seed: message: %s\n", platform::NormalizeBreaks(request.text).c_str());
    return platform::NeutralResult(request.buttons);
  }
  std::optional<std::string> ChooseFile(const platform::FileDialogRequest& request) override {
    std::fprintf(stderr, "receive_seed: file dialog \"%s\": %s\n", request.title.c_str(), exportFile.c_str());
    if (exportFile.empty()) return std::nullopt;
    return exportFile;
  }
  void InteractWithForm(platform::Form& form) override {
    std::fprintf(stderr, "receive_seed: form %s closed\n", form.Name().c_str());
    CloseWithCancel(form);
  }
};

class Owner {
 public:
  explicit Owner(const fs::path& scratch)
      : scratch_(scratch),
        profile_(host::Profile::Create(scratch / "olive", "Olive Owner", "olive@example.org", scratch / "postoffice")),
        hive_(profile_.OpenKeyStore()),
        app_(profile_, host::HostServices{clock_, user_, transport_, *hive_, zone_}),
        ctx_(plexisync::AddinServices{user_, clock_, zone_, Hives()}),
        appl_(ctx_),
        reg_(Hives()) {
    reg_.Init(HKEY_CURRENT_USER);
    // A returning user who updates only on request and sends only what changed.
    Setting("version", plexisync::kLayoutVersion);
    Setting("MyMails", std::string(plexisync::kMyMailOpen) + profile_.Address() + plexisync::kMyMailClose);
    Setting("AutoUpdate", "0");
    Setting("Send_Updated", "1");
    appl_.Init(app_);
    appl_.SetUp();
    user_.exportFile = (scratch / "export.pst").string();
  }
  ~Owner() { appl_.Class_Terminate(); }

  void Setting(const std::string& name, const std::string& value) {
    reg_.SetValue(std::string(host::kProductKey) + "default\\", name, value, 1);
  }

  std::shared_ptr<host::Folder> Contacts() { return app_.Session()->GetDefaultFolder(host::kFolderContacts); }
  std::shared_ptr<host::Folder> NewFolder(const std::shared_ptr<host::Folder>& parent, const std::string& name) {
    host::PersonScope person(app_);
    return parent->Folders()->Add(name, host::kFolderTypeContacts);
  }

  // A contact saved by the person with these properties (FullName first);
  // the clock moves on, so that each change has its own moment.
  std::shared_ptr<host::ContactItem> NewContact(const std::shared_ptr<host::Folder>& folder,
                                                const std::vector<std::pair<std::string, host::Variant>>& props) {
    host::PersonScope person(app_);
    auto c = std::dynamic_pointer_cast<host::ContactItem>(folder->Items()->Add(host::kContactItem));
    if (!c) throw std::runtime_error("not a contact item");
    for (const auto& [name, value] : props) c->SetProperty(name, value);
    c->Save();
    clock_.Advance(1);
    return c;
  }
  void Change(const std::shared_ptr<host::ContactItem>& c, const std::string& name, host::Variant value) {
    host::PersonScope person(app_);
    c->SetProperty(name, std::move(value));
    c->Save();
    clock_.Advance(1);
  }
  void Delete(const std::shared_ptr<host::ContactItem>& c) {
    host::PersonScope person(app_);
    c->Delete();
    clock_.Advance(1);
  }
  // A recipient of the folder: its contact in the default Contacts folder.
  void Recipient(const std::shared_ptr<host::Folder>& folder, const std::shared_ptr<host::ContactItem>& contact,
                 bool enabled = true) {
    host::PersonScope person(app_);
    plexisync::Update_Entry(ctx_, folder->EntryID(), contact->EntryID(), contact->FullName(), enabled,
                            contact->Email1Address());
  }

  // Presses Update for the folder and writes the update mails that went out.
  void Send(const std::shared_ptr<host::Folder>& folder, const fs::path& outDir, const std::string& round) {
    const std::size_t before = transport_.sent.size();
    plexisync::Update_Folder(ctx_, folder, false);
    app_.DoEvents();
    int written = 0;
    for (std::size_t i = before; i < transport_.sent.size(); ++i) {
      const host::MailMessage& mail = transport_.sent[i].message;
      if (mail.subject != plexisync::kUpdateMailSubject) continue;
      for (const auto& a : mail.attachments) {
        if (a.name != plexisync::kBodyFile) continue;
        const std::string text(a.data.begin(), a.data.end());
        const bool import = text.ends_with(plexisync::kImportMarker);
        const fs::path file = outDir / (round + (import ? "_import" : "") + ".pxs");
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
        std::fprintf(stderr, "receive_seed: %s (%zu bytes)\n", file.string().c_str(), text.size());
        ++written;
      }
    }
    if (written == 0) throw std::runtime_error("round " + round + " sent no update mail");
    clock_.Advance(60);
  }

 private:
  plexisync::CRegistry::HiveProvider Hives() {
    return [this](std::int32_t root) -> platform::KeyStore* { return root == HKEY_CURRENT_USER ? hive_.get() : nullptr; };
  }

  fs::path scratch_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  OwnerUser user_;
  host::MemoryTransport transport_;
  host::Profile profile_;
  std::unique_ptr<platform::KeyStore> hive_;
  host::Application app_;
  plexisync::Context ctx_;
  plexisync::Appl appl_;
  plexisync::CRegistry reg_;
};

platform::DateTime Day(int y, int m, int d) { return platform::DateTime::FromParts(y, m, d); }

void WriteSeeds(const fs::path& scratch, const fs::path& out) {
  Owner o(scratch);
  auto contacts = o.Contacts();
  auto rose = o.NewContact(contacts, {{"FullName", std::string("Reader Rose")}, {"Email1Address", std::string("rose@example.org")}});
  auto carl = o.NewContact(contacts, {{"FullName", std::string("Carl Cole")}, {"Email1Address", std::string("carl@example.org")}});
  auto dora = o.NewContact(contacts, {{"FullName", std::string("Dora Diaz")}, {"Email1Address", std::string("dora@example.org")}});

  // The first share: five contacts of different shapes, two recipients.
  auto team = o.NewFolder(contacts, "Team");
  auto dan = o.NewContact(team, {{"FullName", std::string("Dan Diaz")},
                                 {"FirstName", std::string("Dan")},
                                 {"LastName", std::string("Diaz")},
                                 {"Email1Address", std::string("dan@example.net")},
                                 {"JobTitle", std::string("Team member")},
                                 {"CompanyName", std::string("Diaz & Sons")},
                                 {"BusinessTelephoneNumber", std::string("+1 555 0100")},
                                 {"Body", std::string("Notes on Dan\r\nsecond line")}});
  auto eve = o.NewContact(team, {{"FullName", std::string("Eve Evans")},
                                 {"Email1Address", std::string("eve@example.net")},
                                 {"MobileTelephoneNumber", std::string("+44 7700 900123")},
                                 {"Birthday", Day(1988, 2, 29)},
                                 {"Categories", std::string("Team; Football")}});
  auto finn = o.NewContact(team, {{"FullName", std::string("Finn Ford")},
                                  {"HomeAddress", std::string("1 Oak Lane\r\nSpringfield")},
                                  {"HomeAddressCity", std::string("Springfield")},
                                  {"Body", std::string("\xC4\x84\xC5\xBEuolas \xE2\x80\x93 \xC4\x8C\xC5\xA0 \xC3\xBC \xC3\x9F")}});
  auto gina = o.NewContact(team, {{"FullName", std::string("Gina Gray")},
                                  {"Email2Address", std::string("gina.gray@example.com")},
                                  {"WebPage", std::string("https://gina.example.com/")},
                                  {"NickName", std::string("G")}});
  auto hal = o.NewContact(team, {{"FullName", std::string("Hal Hill")}});
  o.Recipient(team, rose);
  o.Recipient(team, carl);
  o.Send(team, out, "share_first");

  o.Change(dan, "JobTitle", std::string("Team lead"));
  o.Change(eve, "Body", std::string("Moved to the London office.\r\n:EndOfContact:\r\nnot an end"));
  o.Send(team, out, "update_changes");

  o.Delete(finn);
  o.Send(team, out, "update_deleted");

  auto ivy = o.NewContact(team, {{"FullName", std::string("Ivy Irwin")}, {"Email1Address", std::string("ivy@example.net")}});
  o.Change(gina, "CompanyName", std::string("Gray Ltd"));
  o.Send(team, out, "update_added");

  o.Recipient(team, dora);
  o.Recipient(team, carl, false);
  o.Change(hal, "Department", std::string("Logistics"));
  o.Send(team, out, "update_recipients");

  o.Setting("Dont_Send_Comments", "1");
  o.Change(dan, "Body", std::string("A note the members do not get"));
  o.Send(team, out, "update_no_comments");
  o.Setting("Dont_Send_Comments", "0");

  o.Delete(gina);
  o.Delete(hal);
  o.Change(eve, "JobTitle", std::string("Coach"));
  o.Change(ivy, "Email1Address", std::string("ivy.irwin@example.net"));
  o.NewContact(team, {{"FullName", std::string("Jon Jones")}, {"Anniversary", Day(2010, 7, 3)}});
  o.Recipient(team, carl);
  o.Send(team, out, "update_mixed");

  auto partners = o.NewFolder(team, "Partners");
  o.NewContact(partners, {{"FullName", std::string("Kai Kent")}, {"CompanyName", std::string("Kent Partners")}});
  o.NewContact(partners, {{"FullName", std::string("Lea Lund")}, {"Email1Address", std::string("lea@example.se")}});
  o.Recipient(partners, rose);
  o.Send(partners, out, "share_subfolder");

  auto clients = o.NewFolder(contacts, "Clients");
  o.NewContact(clients, {{"FullName", std::string("Dr. Mona Marsh Jr.")},
                         {"Title", std::string("Dr.")},
                         {"FirstName", std::string("Mona")},
                         {"MiddleName", std::string("M.")},
                         {"LastName", std::string("Marsh")},
                         {"Suffix", std::string("Jr.")},
                         {"FileAs", std::string("Marsh, Mona")},
                         {"Email1Address", std::string("mona@example.com")},
                         {"Email2Address", std::string("m.marsh@example.org")},
                         {"Email3Address", std::string("mona.marsh@example.net")},
                         {"BusinessAddress", std::string("Suite 5\r\n100 Main Street\r\nBoston, MA 02110")},
                         {"BusinessFaxNumber", std::string("+1 555 0199")},
                         {"Gender", std::int32_t{1}},
                         {"Sensitivity", std::int32_t{2}},
                         {"Birthday", Day(1970, 1, 1)},
                         {"User1", std::string("VIP")},
                         {"Body", std::string("Prefers calls in the morning.\r\n\r\n\tTabbed line")}});
  o.NewContact(clients, {{"FullName", std::string("Ned North")}, {"Email1Address", std::string("ned@example.com")}});
  o.Recipient(clients, rose);
  o.Send(clients, out, "share_clients");

  // Past the export threshold (200 contacts at its lowest setting) the
  // recipients behind get the folder as a file and the import mail.
  o.Setting("Kiek", "0");
  for (int i = 0; i < 200; ++i) o.NewContact(team, {{"FullName", "Member " + std::to_string(i)}});
  o.Send(team, out, "team_grown");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: receive_seed OUT_DIR\n");
    return 2;
  }
  std::string templ = (fs::temp_directory_path() / "receive_seed.XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) {
    std::perror("receive_seed: mkdtemp");
    return 1;
  }
  const fs::path scratch = templ;
  int status = 0;
  try {
    fs::create_directories(argv[1]);
    WriteSeeds(scratch, argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "receive_seed: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return status;
}
