// Receiving 500 ordinary mails (a few KB each, some with a small attachment)
// into a profile's Inbox through the client's send/receive:
//   - from the account's IMAP INBOX on the real test servers (Dovecot over
//     IMAPS on loopback, scripts/mail-servers.sh): the iteration's time;
//   - from the same 500 messages in the local post office's Maildir:
//     counter "postoffice_ms";
// counters "imap_ms" and "ratio" (IMAP time / post-office time) say what the
// network protocol costs over reading the files. Each iteration starts from
// a fresh profile (its IMAP state new, so every message is taken again; a
// fresh post office holding the 500 files), and is aborted when the Inbox
// does not end up with exactly 500 mails.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "host/transport/account.hpp"
#include "host/transport/post_office.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "support/mail_servers.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMessages = 500;
constexpr const char* kUser = "bob";

// Mail number i: a plain text mail of about 3 KB, every fifth one
// multipart with a 2 KB attachment.
std::string Message(int i) {
  std::string n = std::to_string(i);
  std::string head = "Return-Path: <dave@example.org>\n"
                     "From: Dave Diaz <dave@example.org>\n"
                     "To: Bob Brown <bob@example.org>\n"
                     "Cc: Carol Cole <carol@example.org>\n"
                     "Subject: Weekly report " + n + ": figures, open points and next steps\n"
                     "Date: Thu, 10 Dec 2026 09:" + std::to_string(10 + i % 50) + ":00 +0100\n"
                     "Message-ID: <report." + n + ".20261210@example.org>\n"
                     "MIME-Version: 1.0\n";
  std::string text;
  for (int line = 0; line < 40; ++line) {
    text += "Line " + std::to_string(line) + " of report " + n +
            ": the numbers of the week, the customers met and what is left to do.\n";
  }
  if (i % 5 != 0) return head + "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n" + text;
  std::string attachment;
  for (int line = 0; line < 27; ++line) attachment += std::string(76, static_cast<char>('A' + (line + i) % 26)) + "\n";
  return head + "Content-Type: multipart/mixed; boundary=\"b" + n + "\"\n\n--b" + n +
         "\nContent-Type: text/plain; charset=utf-8\n\n" + text + "--b" + n +
         "\nContent-Type: application/octet-stream; name=\"figures.bin\"\n"
         "Content-Disposition: attachment; filename=\"figures.bin\"\nContent-Transfer-Encoding: base64\n\n" +
         attachment + "--b" + n + "--\n";
}

// The servers, started once for the run, with the 500 mails in bob's INBOX.
host::MailServers& Servers() {
  static std::unique_ptr<host::MailServers> servers = [] {
    auto s = std::make_unique<host::MailServers>();
    for (int i = 0; i < kMessages; ++i) s->DropMessage(kUser, Message(i));
    return s;
  }();
  return *servers;
}

// A fresh profile with the client on it, its transport as the settings say.
class Machine {
 public:
  Machine(const fs::path& dir, const fs::path& postOffice, const host::AccountSettings& account,
          const std::string& password)
      : profile_(host::Profile::Create(dir, "Bob Brown", "bob@example.org", postOffice, account)) {
    hive_ = profile_.OpenKeyStore(platform::KeyStore::Sharing::kSoleUser);
    transport_ = profile_.MakeTransport([password](const std::string&) { return std::optional<std::string>(password); });
    app_ = std::make_unique<host::Application>(profile_,
                                               host::HostServices{clock_, user_, *transport_, *hive_, zone_});
  }
  ~Machine() {
    app_.reset();
    transport_.reset();
    hive_.reset();
  }
  void SendReceive() {
    host::PersonScope person(*app_);
    app_->Session()->SyncObjects()->Item(1)->Start();
  }
  int InboxCount() { return app_->Session()->GetDefaultFolder(host::kFolderInbox)->Items()->Count(); }

 private:
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  platform::ScriptedUser user_;
  host::Profile profile_;
  std::unique_ptr<platform::KeyStore> hive_;
  std::unique_ptr<host::Transport> transport_;
  std::unique_ptr<host::Application> app_;
};

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out.flush()) std::abort();
}

void BM_Receive500(benchmark::State& state) {
  host::MailServers* servers = nullptr;
  try {
    servers = &Servers();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  std::string tmpl = (fs::temp_directory_path() / "imap-fetch-bench-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) std::abort();
  const fs::path work = tmpl;
  std::vector<std::string> messages;
  for (int i = 0; i < kMessages; ++i) messages.push_back(Message(i));

  double imapSeconds = 0, postOfficeSeconds = 0;
  int round = 0;
  for (auto _ : state) {
    const fs::path dir = work / std::to_string(round++);
    // From the IMAP INBOX.
    host::AccountSettings account;
    account.imapUrl = servers->ImapsUrl();
    account.user = kUser;
    account.caFile = servers->CaFile().string();
    double imap = 0;
    {
      Machine bob(dir / "imap", dir / "imap-postoffice", account, servers->Password(kUser));
      auto start = Clock::now();
      bob.SendReceive();
      imap = std::chrono::duration<double>(Clock::now() - start).count();
      if (bob.InboxCount() != kMessages) {
        state.SkipWithError(("IMAP: the Inbox holds " + std::to_string(bob.InboxCount()) + " mails").c_str());
        break;
      }
    }
    // From the post office.
    double local = 0;
    {
      host::PostOfficeTransport postOffice(dir / "postoffice");
      const fs::path maildir = postOffice.MailboxPath("bob@example.org");
      for (const char* sub : {"tmp", "new", "cur"}) fs::create_directories(maildir / sub);
      for (int i = 0; i < kMessages; ++i) {
        WriteFile(maildir / "new" / ("1796900000." + std::to_string(i) + ".bench"), messages[i]);
      }
      Machine bob(dir / "local", dir / "postoffice", {}, "");
      auto start = Clock::now();
      bob.SendReceive();
      local = std::chrono::duration<double>(Clock::now() - start).count();
      if (bob.InboxCount() != kMessages) {
        state.SkipWithError(("post office: the Inbox holds " + std::to_string(bob.InboxCount()) + " mails").c_str());
        break;
      }
    }
    state.SetIterationTime(imap);
    imapSeconds += imap;
    postOfficeSeconds += local;
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  if (round > 0 && postOfficeSeconds > 0) {
    state.counters["imap_ms"] = 1000 * imapSeconds / round;
    state.counters["postoffice_ms"] = 1000 * postOfficeSeconds / round;
    state.counters["ratio"] = imapSeconds / postOfficeSeconds;
  }
  std::error_code ec;
  fs::remove_all(work, ec);
}
BENCHMARK(BM_Receive500)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
