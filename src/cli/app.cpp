#include "cli/app.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/account_terminal.hpp"
#include "cli/commands.hpp"
#include "cli/environment.hpp"
#include "cli/errors.hpp"
#include "cli/explorer_commands.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "host/errors.hpp"
#include "host/profile.hpp"
#include "host/profile_lock.hpp"
#include "host/transport/account.hpp"
#include "host/transport/mail_message.hpp"
#include "platform/clipboard.hpp"
#include "platform/clock.hpp"
#include "platform/shell.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "platform/web.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/update/vendor.hpp"

namespace cli {
namespace {

namespace fs = std::filesystem;

// Everything the command line says.
struct Args {
  std::string profile;
  std::vector<std::string> answers;
  bool batch = false;
  bool json = false;

  std::string newProfile, name, address, postOffice;
  // The mail account's settings given on the command line; an empty value
  // removes the setting.
  std::optional<std::string> smtp, imap, user, passwordCommand, caFile;
  std::string setProfile;
  std::string showProfile;
  std::string path;
  std::string folder, contact;
  std::vector<std::string> sets;
  bool unread = false;
  bool view = false;
  std::string controlName;
  MailDraft draft;
  std::string mailFolder = "Inbox";
  std::string mailId;
  std::string saveDir;
  bool cancel = false;
  std::vector<std::string> add, remove;
  std::string storeFile;
  std::vector<std::string> show;
  ShareRequest share;
  bool shareSave = false, shareSend = false, shareCancel = false;
};

// What a command runs with once the command line is read: the platform
// services, the person at the terminal and the chosen profile.
class Runner {
 public:
  Runner(const Args& args, std::istream& in, std::ostream& out, std::ostream& err)
      : args_(args),
        out_(out),
        err_(err),
        transcript_(args.json ? err : out),
        user_(in, transcript_, Interactive(args, in), args.answers, plexisync::kProductTitle,
              plexisync::QuestionButtonCaptions()),
        home_(PlexisyncHome()) {
    const int fd = &transcript_ == &std::cout ? STDOUT_FILENO : &transcript_ == &std::cerr ? STDERR_FILENO : -1;
    if (fd >= 0 && isatty(fd) == 1) user_.SetTerminalOutput(true, TerminalColumns(fd));
    // The account's password is asked at the terminal itself, never through
    // prepared answers or a redirected input.
    if (!args.batch && &in == &std::cin) {
      passwordPrompt_ = [](const std::string& prompt) { return AskPasswordAtTerminal(prompt); };
    }
    if (&err == &std::cerr && isatty(STDERR_FILENO) == 1) {
      transferProgress_ = TerminalTransferProgress(err, true, TerminalColumns(STDERR_FILENO));
    }
    user_.OnUnfitAnswer([this](const std::string& why) { EndAtUnfitAnswer(why); });
  }

  const Args& args() const { return args_; }
  std::ostream& out() { return out_; }
  std::ostream& transcript() { return transcript_; }
  const fs::path& home() const { return home_; }

  std::string ProfileName() const { return args_.profile.empty() ? DefaultProfileName() : args_.profile; }

  fs::path ExistingProfileDir(const std::string& name) const {
    const fs::path dir = ProfileDir(name, home_);
    if (!host::Profile::Exists(dir)) {
      throw CliError("no such profile: " + name + " (no profile in " + dir.string() + ")");
    }
    return dir;
  }

  // Opens the chosen profile with the add-in, runs the command, delivers the
  // queued events and shuts the add-in down.
  int WithSession(const std::function<int(ProfileSession&)>& command) {
    return WithSessionAt(ExistingProfileDir(ProfileName()), command);
  }

  int WithSessionAt(const fs::path& dir, const std::function<int(ProfileSession&)>& command) {
    ProfileSession session(dir, SessionServices{user_, clock_, timeZone_, &shell_, &web_,
                                                &platform::SystemClipboard(), nullptr, passwordPrompt_,
                                                transferProgress_});
    const int rc = command(session);
    session.Close();
    for (const auto& e : session.TakeEscapedErrors()) transcript_ << "An event handler failed: " << e << "\n";
    return rc;
  }

  // Answers the command line prepared for questions that were never asked:
  // a note on the error output, apart from what the command printed.
  void NoteUnusedAnswers() {
    const std::size_t left = user_.AnswersLeft();
    if (left == 0) return;
    err_ << "plexisync: " << left << (left == 1 ? " prepared answer was" : " prepared answers were")
         << " not used\n";
  }

 private:
  // A prepared answer fits no choice of the question it met (a typo such as
  // "Yess"): the command ends here with exit code 2, and the question gets
  // no answer at all. No answer can be handed back instead: "No" or
  // "Cancel" would be taken as the person's choice and throw away what the
  // question was about, and an exception cannot carry the end out either,
  // since the add-in catches every error at its routine boundaries (nothing
  // may reach the client) and would go on. So the process ends where it
  // stands: every change of the profile (messages, key store, the sharing
  // database) is its own committed transaction and the profile's lock is
  // the system's, so what was done before the question stays as it was
  // done and nothing after it happens.
  [[noreturn]] void EndAtUnfitAnswer(const std::string& why) {
    transcript_.flush();
    out_.flush();
    err_ << "plexisync: " << why << "\n";
    err_.flush();
    std::fflush(nullptr);
    std::_Exit(2);
  }

  // The terminal's width, 80 when it does not say.
  static int TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
  }

  static bool Interactive(const Args& args, std::istream& in) {
    return !args.batch && args.answers.empty() && &in == &std::cin && isatty(STDIN_FILENO) == 1;
  }

  const Args& args_;
  std::ostream& out_;
  std::ostream& err_;
  std::ostream& transcript_;
  platform::TerminalUser user_;
  fs::path home_;
  platform::SystemClock clock_;
  platform::SystemTimeZone timeZone_;
  platform::SystemShell shell_;
  platform::CurlWebClient web_{WebOptions()};
  host::PasswordPrompt passwordPrompt_;
  host::TransferProgress transferProgress_;

  static platform::CurlWebClient::Options WebOptions() {
    platform::CurlWebClient::Options options;
    options.userAgent = plexisync::WebUserAgent();
    return options;
  }
};

using Action = std::function<int(Runner&)>;

bool Blank(const std::string& s) { return platform::Trim(s).empty(); }

// The account options given on the command line, applied to `account`.
void ApplyAccountOptions(const Args& a, host::AccountSettings& account) {
  if (a.smtp) account.smtpUrl = *a.smtp;
  if (a.imap) account.imapUrl = *a.imap;
  if (a.user) account.user = *a.user;
  if (a.passwordCommand) account.passwordCommand = *a.passwordCommand;
  if (a.caFile) account.caFile = *a.caFile;
}

bool AnyAccountOption(const Args& a) { return a.smtp || a.imap || a.user || a.passwordCommand || a.caFile; }

void PrintAccountSummary(std::ostream& out, const host::AccountSettings& account) {
  out << "Mail goes out through " << (account.smtpUrl.empty() ? "the post office" : account.smtpUrl)
      << " and comes in from " << (account.imapUrl.empty() ? "the post office" : account.imapUrl) << "\n";
}

int CreateProfile(Runner& r) {
  const Args& a = r.args();
  if (Blank(a.name)) throw CliError("--name must not be empty");
  if (Blank(a.address)) throw CliError("--address must not be empty");
  // The profile's own address: one plain address, no name part.
  const std::string address = platform::Trim(a.address);
  if (!host::IsMailAddress(address)) throw CliError("--address: not an e-mail address: " + PrintableLine(address));
  const fs::path dir = ProfileDir(a.newProfile, r.home());
  const fs::path postOffice = a.postOffice.empty() ? DefaultPostOffice(r.home()) : fs::path(a.postOffice);
  std::error_code ec;
  if (fs::weakly_canonical(dir, ec) == fs::weakly_canonical(postOffice, ec)) {
    throw CliError("a profile cannot live in the post office: " + dir.string());
  }
  if (host::Profile::Exists(dir)) throw CliError("profile already exists: " + a.newProfile);
  if (dir.has_parent_path()) fs::create_directories(dir.parent_path(), ec);
  fs::create_directories(postOffice, ec);
  host::AccountSettings account;
  ApplyAccountOptions(a, account);
  host::Profile::Create(dir, a.name, address, postOffice, account);
  r.out() << "Created profile " << a.newProfile << " for " << a.name << " <" << address << "> in "
          << dir.string() << "\n";
  if (account.HasServers()) PrintAccountSummary(r.out(), account);
  r.out() << "Starting the mail client for the first time\n";
  return r.WithSessionAt(dir, [](ProfileSession&) { return 0; });
}

// Adds the mail account's options. A value is checked as the command line
// is read (a bad one is a command-line error that changes nothing).
void AddAccountOptions(CLI::App* cmd, Args& a) {
  auto check = [](auto apply) {
    return [apply](std::string& value) -> std::string {
      host::AccountSettings one;
      apply(one, value);
      try {
        host::CheckAccountSettings(one);
      } catch (const std::invalid_argument& e) {
        return e.what();
      }
      return {};
    };
  };
  cmd->add_option("--smtp", a.smtp,
                  "SMTP server to send through: smtps://HOST[:PORT] (TLS, port 465) or smtp://HOST[:PORT] "
                  "(STARTTLS, port 587); \"\" removes it (mail then goes through the post office)")
      ->check(CLI::Validator(check([](host::AccountSettings& s, const std::string& v) { s.smtpUrl = v; }), "URL"));
  cmd->add_option("--imap", a.imap,
                  "IMAP server to receive from (its INBOX): imaps://HOST[:PORT] (TLS, port 993) or "
                  "imap://HOST[:PORT] (STARTTLS, port 143); \"\" removes it")
      ->check(CLI::Validator(check([](host::AccountSettings& s, const std::string& v) { s.imapUrl = v; }), "URL"));
  cmd->add_option("--user", a.user, "Login name on the servers (default: the profile's address)")
      ->check(CLI::Validator(check([](host::AccountSettings& s, const std::string& v) { s.user = v; }), "USER"));
  cmd->add_option("--password-command", a.passwordCommand,
                  "Command (run by /bin/sh -c) whose first output line is the password; without it the "
                  "password is asked at the terminal at each send-receive. The password is never stored")
      ->check(CLI::Validator(
          check([](host::AccountSettings& s, const std::string& v) { s.passwordCommand = v; }), "CMD"));
  cmd->add_option("--ca-file", a.caFile, "Certificates to trust for the servers (default: the system's)")
      ->check(CLI::Validator(check([](host::AccountSettings& s, const std::string& v) { s.caFile = v; }), "FILE"));
}

int SetProfile(Runner& r) {
  const Args& a = r.args();
  const std::string name = a.setProfile.empty() ? r.ProfileName() : a.setProfile;
  const fs::path dir = r.ExistingProfileDir(name);
  if (!AnyAccountOption(a)) throw CliError("nothing to change: give --smtp, --imap, --user, --password-command or --ca-file");
  // Nobody else works on the profile while its file is rewritten.
  host::ProfileLock lock = host::ProfileLock::Acquire(dir);
  host::Profile profile = host::Profile::Open(dir);
  host::AccountSettings account = profile.Account();
  ApplyAccountOptions(a, account);
  try {
    profile.SetAccount(account);
  } catch (const std::invalid_argument& e) {
    throw CliError(e.what());
  }
  r.out() << "Changed the mail account of profile " << name << "\n";
  PrintAccountSummary(r.out(), account);
  return 0;
}

// Adds a "--json" flag for machine-readable output.
void AddJson(CLI::App* cmd, Args& a) { cmd->add_flag("--json", a.json, "Write the result as JSON"); }

// The command line's grammar; each command's action is kept with it.
std::vector<std::pair<CLI::App*, Action>> Define(CLI::App& app, Args& a) {
  std::vector<std::pair<CLI::App*, Action>> actions;
  auto on = [&](CLI::App* cmd, Action action) { actions.emplace_back(cmd, std::move(action)); };

  app.add_option("-p,--profile", a.profile,
                 "Profile: a name under $PLEXISYNC_HOME or a path (it contains a \"/\"); "
                 "default $PLEXISYNC_PROFILE, else \"default\"");
  app.add_option("--answer", a.answers,
                 "Answer to the next question the program asks, in order: a button's caption "
                 "(\"Yes\", \"No to All\", \"OK\"), a file path for a file dialog, or a command for the "
                 "window asking: \"check NAME 0|1\", \"set NAME TEXT\", \"click CAPTION\" (e.g. "
                 "--answer \"check Check 1\" --answer Yes ticks \"Send only updated items\" in the "
                 "confirmation before a full send and answers Yes). An answer that fits no choice of the "
                 "question it meets ends the command with exit code 2, changing nothing that question decides")
      ->allow_extra_args(false);
  app.add_flag("--batch", a.batch, "Never read the terminal: unanswered questions take the answer that changes nothing");

  // ---- profile ----
  auto* profile = app.add_subcommand("profile", "Create and show profiles");
  profile->require_subcommand(1);
  {
    auto* c = profile->add_subcommand("create", "Create a profile and start the mail client once");
    c->add_option("PROFILE", a.newProfile, "Name (or path) of the new profile")->required();
    c->add_option("--name", a.name, "The person's display name")->required();
    c->add_option("--address", a.address, "The person's e-mail address")->required();
    c->add_option("--post-office", a.postOffice, "Post office folder (default $PLEXISYNC_HOME/postoffice)");
    AddAccountOptions(c, a);
    on(c, [](Runner& r) { return CreateProfile(r); });

    auto* st = profile->add_subcommand("set", "Change the profile's mail account");
    st->add_option("PROFILE", a.setProfile, "Profile to change (default: the chosen profile)");
    AddAccountOptions(st, a);
    on(st, [](Runner& r) { return SetProfile(r); });

    auto* s = profile->add_subcommand("show", "Show the profile's settings");
    s->add_option("PROFILE", a.showProfile, "Profile to show (default: the chosen profile)");
    AddJson(s, a);
    on(s, [](Runner& r) {
      const std::string name = r.args().showProfile.empty() ? r.ProfileName() : r.args().showProfile;
      ShowProfile(host::Profile::Open(r.ExistingProfileDir(name)), r.out(), r.args().json);
      return 0;
    });

    auto* l = profile->add_subcommand("list", "List the profiles under $PLEXISYNC_HOME");
    AddJson(l, a);
    on(l, [](Runner& r) {
      ListProfiles(r.home(), r.out(), r.args().json);
      return 0;
    });
  }

  // ---- folder ----
  auto* folder = app.add_subcommand("folder", "List, add and delete folders");
  folder->require_subcommand(1);
  {
    auto* l = folder->add_subcommand("list", "List every folder");
    AddJson(l, a);
    on(l, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        ListFolders(s, r.out(), r.args().json);
        return 0;
      });
    });
    auto* ad = folder->add_subcommand("add", "Add a contacts folder and any missing parents");
    ad->add_option("PATH", a.path, "Folder path, e.g. Contacts/Team")->required();
    on(ad, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        AddFolder(s, r.out(), r.args().path);
        return 0;
      });
    });
    auto* d = folder->add_subcommand("delete", "Delete a folder (it moves to Deleted Items)");
    d->add_option("PATH", a.path, "Folder path")->required();
    on(d, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        DeleteFolder(s, r.out(), r.args().path);
        return 0;
      });
    });
  }

  // ---- contact ----
  auto* contact = app.add_subcommand("contact", "Add, change, show, list and delete contacts");
  contact->require_subcommand(1);
  {
    const char* setHelp = "Property=Value, with the contact item's property names (FullName, Email1Address, ...)";
    auto* ad = contact->add_subcommand("add", "Add a contact; prints its entry id");
    ad->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    ad->add_option("--set", a.sets, setHelp);
    on(ad, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        AddContact(s, r.out(), r.args().folder, r.args().sets);
        return 0;
      });
    });
    auto* st = contact->add_subcommand("set", "Change properties of a contact");
    st->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    st->add_option("CONTACT", a.contact, "Entry id or full name")->required();
    st->add_option("--set", a.sets, setHelp)->required();
    on(st, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        SetContact(s, r.out(), r.args().folder, r.args().contact, r.args().sets);
        return 0;
      });
    });
    auto* sh = contact->add_subcommand("show", "Show a contact's properties");
    sh->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    sh->add_option("CONTACT", a.contact, "Entry id or full name")->required();
    AddJson(sh, a);
    on(sh, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        ShowContact(s, r.out(), r.args().folder, r.args().contact, r.args().json);
        return 0;
      });
    });
    auto* l = contact->add_subcommand("list", "List the contacts of a folder");
    l->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    l->add_flag("--unread", a.unread, "Only the unread contacts");
    l->add_flag("--view", a.view, "Only what the folder's current view shows (its filter applied)");
    l->add_option("--store", a.storeFile,
                  "Look for FOLDER in this personal-folders (.pst) file, from its top folder (e.g. Temp); "
                  "the file is opened for the listing only");
    l->add_option("--show", a.show, "Also show these properties (e.g. User3, User4)");
    AddJson(l, a);
    on(l, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        const Args& a = r.args();
        ListContacts(s, r.out(), a.folder, a.unread, a.json, a.storeFile, a.show, a.view);
        return 0;
      });
    });
    auto* d = contact->add_subcommand("delete", "Delete a contact (it moves to Deleted Items)");
    d->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    d->add_option("CONTACT", a.contact, "Entry id or full name")->required();
    on(d, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        DeleteContact(s, r.out(), r.args().folder, r.args().contact);
        return 0;
      });
    });
  }

  // ---- mail ----
  auto* mail = app.add_subcommand("mail", "Send, list and show mail");
  mail->require_subcommand(1);
  {
    auto* sd = mail->add_subcommand("send", "Put a mail into the Outbox for the next send-receive");
    sd->add_option("--to", a.draft.to, "Recipient addresses")->required();
    sd->add_option("--cc", a.draft.cc, "Copy recipients");
    sd->add_option("--bcc", a.draft.bcc, "Blind-copy recipients");
    sd->add_option("--subject", a.draft.subject, "Subject")->required();
    sd->add_option("--body", a.draft.body, "Body text");
    sd->add_option("--attach", a.draft.attachments, "Files to attach");
    on(sd, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        SendMail(s, r.out(), r.args().draft);
        return 0;
      });
    });
    auto* l = mail->add_subcommand("list", "List the mail of a folder");
    l->add_option("FOLDER", a.mailFolder, "Folder path (default Inbox)");
    AddJson(l, a);
    on(l, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        ListMail(s, r.out(), r.args().mailFolder, r.args().json);
        return 0;
      });
    });
    auto* sh = mail->add_subcommand("show", "Show a mail");
    sh->add_option("FOLDER", a.mailFolder, "Folder path")->required();
    sh->add_option("ID", a.mailId, "Entry id of the mail")->required();
    sh->add_option("--save-attachments", a.saveDir, "Save the attachments into this folder");
    AddJson(sh, a);
    on(sh, [](Runner& r) {
      return r.WithSession([&](ProfileSession& s) {
        std::optional<fs::path> dir;
        if (!r.args().saveDir.empty()) dir = fs::path(r.args().saveDir);
        ShowMail(s, r.out(), r.args().mailFolder, r.args().mailId, r.args().json, dir);
        return 0;
      });
    });
  }

  auto* sr = app.add_subcommand(
      "send-receive",
      "Send the Outbox and fetch new mail; the add-in applies the update mails that arrived, asking its questions "
      "(answer them with --answer \"Yes\", \"Yes to All\", \"No\", \"No to All\")");
  on(sr, [](Runner& r) { return r.WithSession([&](ProfileSession& s) { return SendReceive(s, r.out()) ? 1 : 0; }); });

  // ---- the add-in ----
  auto* options = app.add_subcommand("options", "Show or change the add-in's options window");
  AddJson(options, a);
  options->add_option("--set", a.sets,
                      "NAME=VALUE: Send_Updated, Dont_Send_Comments, Dont_Receive, Export, AutoUpdate "
                      "(1/0 or on/off), Kiek (200, 500, 1000, 3000, 5000), GMT (e.g. +2:00)");
  options->add_flag("--cancel", a.cancel, "Press Cancel instead of OK after the changes");
  on(options, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      if (r.args().sets.empty() && !r.args().cancel) {
        ShowOptions(s, r.out(), r.args().json);
      } else {
        ChangeOptions(s, r.out(), r.args().sets, r.args().cancel);
      }
      return 0;
    });
  });

  auto* mine = app.add_subcommand("my-addresses", "Show or change the own-address list");
  AddJson(mine, a);
  mine->add_option("--add", a.add, "Addresses to add");
  mine->add_option("--remove", a.remove, "Addresses to remove");
  on(mine, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      if (r.args().add.empty() && r.args().remove.empty()) {
        ShowMyAddresses(s, r.out(), r.args().json);
      } else {
        ChangeMyAddresses(s, r.out(), r.args().add, r.args().remove);
      }
      return 0;
    });
  });

  // ---- sharing ----
  auto* share = app.add_subcommand(
      "share",
      "Open the share wizard on a contacts folder: show its lists (then Cancel), or choose recipients and press "
      "Save, Save && Send or Cancel");
  share->add_option("FOLDER", a.share.folder, "Contacts folder path, e.g. Contacts/Team")->required();
  share->add_option("--source", a.share.source,
                    "Folder to choose in \"Look in:\" (default: the default Contacts folder)");
  share->add_option("--add", a.share.add,
                    "Contact to add: full name or entry id; typed into \"Search:\", then \">>\"");
  share->add_option("--remove", a.share.remove, "Recipient to remove: full name or entry id; then \"<<\"");
  share->add_option("--new-contact", a.share.newContacts,
                    "PROPERTY=VALUE...: press \"New contact...\", fill in the contact form (FullName, FirstName, "
                    "LastName, CompanyName, JobTitle, Email1Address, ...) and save it; it becomes a recipient at "
                    "once. Once per new contact")
      ->expected(1, CLI::detail::expected_max_vector_size);
  auto* save = share->add_flag("--save", a.shareSave, "Press \"Save\"");
  auto* send = share->add_flag("--send", a.shareSend, "Press \"Save && Send\": store and send the folder");
  auto* cancelShare = share->add_flag("--cancel", a.shareCancel, "Press \"Cancel\": store nothing");
  auto* shareJson = share->add_flag("--json", a.json, "Show the lists as JSON (without changes)");
  save->excludes(send)->excludes(cancelShare)->excludes(shareJson);
  send->excludes(cancelShare)->excludes(shareJson);
  cancelShare->excludes(shareJson);
  share->final_callback([&a] {
    ShareRequest& q = a.share;
    const bool changes = !q.source.empty() || !q.add.empty() || !q.remove.empty() || !q.newContacts.empty();
    q.finish = a.shareSave     ? ShareRequest::Finish::kSave
               : a.shareSend   ? ShareRequest::Finish::kSend
               : a.shareCancel ? ShareRequest::Finish::kCancel
                               : ShareRequest::Finish::kShow;
    if (changes && q.finish == ShareRequest::Finish::kShow) {
      throw CLI::ValidationError("share", "say how to close the wizard: --save, --send or --cancel");
    }
    if (changes && a.json) throw CLI::ValidationError("share", "--json only shows the lists");
  });
  on(share, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) { return Share(s, r.out(), r.args().share, r.args().json); });
  });

  auto* members = app.add_subcommand("members", "Show a folder's recipients as the sharing database holds them");
  members->add_option("FOLDER", a.folder, "Contacts folder path")->required();
  AddJson(members, a);
  on(members, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      ShowMembers(s, r.out(), r.args().folder, r.args().json);
      return 0;
    });
  });

  auto* update = app.add_subcommand(
      "update",
      "Send a shared folder's changes to its recipients (the Update button); recipients far behind get the folder "
      "as a .pst file: answer the file dialog with --answer PATH.pst");
  update->add_option("FOLDER", a.folder, "Contacts folder path")->required();
  on(update, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) { return UpdateFolder(s, r.out(), r.args().folder); });
  });

  auto* updateAll = app.add_subcommand("update-all", "Send every shared folder's changes (the Update All button)");
  on(updateAll, [](Runner& r) { return r.WithSession([&](ProfileSession& s) { return UpdateAll(s, r.out()); }); });

  auto* import = app.add_subcommand(
      "import",
      "Import a shared folder's personal-folders (.pst) file into a contacts folder, as the add-in's Import does; "
      "answer its file dialog with --answer PATH.pst");
  import->add_option("FOLDER", a.folder, "Contacts folder path, e.g. Contacts/Team")->required();
  on(import, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) { return ImportFile(s, r.out(), r.args().folder); });
  });

  auto* buttons = app.add_subcommand(
      "buttons", "List the add-in's buttons on the explorer's \"Standard\" toolbar and its \"Plexisync\" menu");
  buttons->add_option("FOLDER", a.folder, "Switch the explorer window to this folder first");
  AddJson(buttons, a);
  on(buttons, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      ListButtons(s, r.out(), r.args().folder, r.args().json);
      return 0;
    });
  });

  auto* click = app.add_subcommand(
      "click",
      "Press the add-in's toolbar button or \"Plexisync\" menu item with this tag or caption (e.g. \"Share...\", "
      "\"Unread Only\", \"Mark as Read\", \"About Plexisync\"); answer what it asks with --answer");
  click->add_option("NAME", a.controlName, "Tag or caption of the button or menu item")->required();
  click->add_option("--folder", a.folder, "Switch the explorer window to this folder first");
  on(click, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) { return ClickControl(s, r.out(), r.args().controlName, r.args().folder); });
  });

  // Shortcuts for one click each.
  struct Shortcut {
    const char* command;
    const char* control;
    const char* help;
    bool needsFolder;
  };
  static const Shortcut kShortcuts[] = {
      {"unread", "Unread Only", "Toggle the folder's unread-only view (the \"Unread Only\" button)", true},
      {"mark-read", "MarkAsRead", "Mark every contact of the folder as read (the \"Mark as Read\" button)", true},
      {"about", "About Plexisync", "Show the add-in's About window (menu \"About Plexisync\")", false},
      {"check-update", "Check for Update", "Check for a newer add-in (menu \"Check for Update\")", false},
  };
  for (const auto& sc : kShortcuts) {
    auto* cmd = app.add_subcommand(sc.command, sc.help);
    if (sc.needsFolder) cmd->add_option("FOLDER", a.folder, "Contacts folder path")->required();
    const std::string control = sc.control;
    on(cmd, [control](Runner& r) {
      return r.WithSession([&](ProfileSession& s) { return ClickControl(s, r.out(), control, r.args().folder); });
    });
  }

  auto* log = app.add_subcommand("log", "Print the add-in's error log");
  on(log, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      ShowLog(s, r.out());
      return 0;
    });
  });

  auto* repair = app.add_subcommand("repair", "Repair the sharing database (\"Update and repair database\")");
  on(repair, [](Runner& r) {
    return r.WithSession([&](ProfileSession& s) {
      RepairDatabase(s, r.out());
      return 0;
    });
  });

  return actions;
}

// The parsed command: the deepest subcommand that has an action.
const Action* Chosen(const std::vector<std::pair<CLI::App*, Action>>& actions) {
  for (const auto& [cmd, action] : actions) {
    if (cmd->parsed()) return &action;
  }
  return nullptr;
}

}  // namespace

int RunPlexisync(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
  CLI::App app{"Plexisync: share contacts folders by e-mail. Works on a profile of the mail client "
               "with the Plexisync add-in loaded.",
               "plexisync"};
  app.footer(
      "Profiles live under $PLEXISYNC_HOME (default ~/.local/share/plexisync) and exchange mail through "
      "its post office, or through a mail account's SMTP and IMAP servers (profile set --smtp, --imap); the "
      "account's password comes from its --password-command or is asked at the terminal, and is never stored. "
      "Questions are printed and answered by --answer options in order, at the terminal, "
      "or else with the answer that changes nothing.\n"
      "Folder paths give the names from a store's top folder down, separated by \"/\" (the default store's top "
      "folder may be left out: Contacts/Team); within a name \"\\/\" stands for a \"/\" and \"\\\\\" for a "
      "backslash, as the paths the program prints are written.\n"
      "Exit codes: 0 success, 1 the command failed, 2 bad command line or an --answer that fits no choice of the "
      "question it meets (the command then ends at that question).");
  app.require_subcommand(1);
  app.fallthrough();
  Args args;
  const auto actions = Define(app, args);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    app.exit(e, out, err);
    return 0;
  } catch (const CLI::CallForAllHelp& e) {
    app.exit(e, out, err);
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "plexisync: " << e.what() << " (see plexisync --help)\n";
    return 2;
  }

  const Action* action = Chosen(actions);
  if (!action) {
    err << "plexisync: no command given (see plexisync --help)\n";
    return 2;
  }
  try {
    Runner runner(args, in, out, err);
    int rc = 0;
    try {
      rc = (*action)(runner);
    } catch (...) {
      runner.NoteUnusedAnswers();
      throw;
    }
    runner.NoteUnusedAnswers();
    return rc;
  } catch (const UnknownControlError& e) {
    err << "plexisync: " << e.what() << "\n";
    return 2;
  } catch (const CliError& e) {
    err << "plexisync: " << e.what() << "\n";
  } catch (const host::HostError& e) {
    err << "plexisync: " << e.what() << "\n";
  } catch (const std::exception& e) {
    err << "plexisync: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace cli
