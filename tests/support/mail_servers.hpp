#pragma once
// Real mail servers for tests of the mail accounts: Dovecot (IMAP with
// STARTTLS, IMAPS) and a small aiosmtpd server (SMTP with STARTTLS, SMTPS) on
// free loopback ports, started by scripts/mail-servers.sh in a fresh folder
// under /tmp and stopped (the folder removed) by the destructor.
//
// Users: alice, bob, carol, dave, each with the password "<name>-secret" and
// the address <name>@example.org, plus "nobox", who can log in but has no
// INBOX. The SMTP server refuses recipients other than these with 550 and
// delivers into their Maildirs; both servers trust CaFile().
//
// The constructor throws std::runtime_error with the script's output when the
// servers cannot be started: a test that needs them fails, it is not skipped.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class MailServers {
 public:
  // `extraUsers`: more users as "name:password".
  explicit MailServers(const std::vector<std::string>& extraUsers = {});
  ~MailServers();
  MailServers(const MailServers&) = delete;
  MailServers& operator=(const MailServers&) = delete;

  int ImapsPort() const { return imapsPort_; }
  int ImapPort() const { return imapPort_; }
  int SmtpsPort() const { return smtpsPort_; }
  int SmtpPort() const { return smtpPort_; }
  // "imaps://127.0.0.1:<port>" and so on.
  std::string ImapsUrl() const;
  std::string ImapUrl() const;
  std::string SmtpsUrl() const;
  std::string SmtpUrl() const;
  // The self-signed certificate of both servers, for clients to trust.
  const std::filesystem::path& CaFile() const { return caFile_; }
  // The folder holding everything of these servers.
  const std::filesystem::path& Dir() const { return dir_; }

  // A user's password; throws std::out_of_range for an unknown user.
  const std::string& Password(const std::string& user) const;
  // "<user>@example.org".
  std::string Address(const std::string& user) const;
  // The user's Maildir (its INBOX).
  std::filesystem::path Maildir(const std::string& user) const;

  // The texts of the messages in the user's Maildir (new/ and cur/), by
  // file name.
  std::vector<std::string> ReadMessages(const std::string& user) const;
  // Puts a message into the user's Maildir the way a delivery agent does
  // (tmp/, flushed, renamed into new/, owned by the mail user). Returns the
  // file's path in new/. Throws std::runtime_error.
  std::filesystem::path DropMessage(const std::string& user, std::string_view text) const;

  // The servers' processes (Dovecot's master and the SMTP server).
  int DovecotPid() const { return dovecotPid_; }
  int SmtpPid() const { return smtpPid_; }
  // Dovecot's instance name: its processes are titled "<name>/<service>".
  const std::string& InstanceName() const { return instanceName_; }

  // Stops both servers now (a server that is down); the destructor does too.
  void Stop();

 private:
  std::filesystem::path script_, dir_, caFile_, mailDir_;
  std::string instanceName_;
  int imapsPort_ = 0, imapPort_ = 0, smtpsPort_ = 0, smtpPort_ = 0;
  int dovecotPid_ = 0, smtpPid_ = 0;
  int mailUid_ = -1, mailGid_ = -1;
  std::map<std::string, std::string> passwords_;
  bool running_ = false;
};

}  // namespace host
