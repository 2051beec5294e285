#pragma once
// A profile's own mail account on real servers: mail goes out through SMTP
// and comes in from the account's IMAP INBOX. Either half may be missing; that
// half then uses the machine's post office as before.
//
// The password is never stored: it is read at each send/receive from the
// output of the account's password command, or asked from the person.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace host {

enum class ServerKind { kSmtp, kImap };

// A server address as the settings give it: "smtps://host:465",
// "smtp://host:587", "imaps://host:993", "imap://host:143". The port may be
// left out (the scheme's usual one). Plain schemes always use STARTTLS; the
// only exception is a loopback host (127.0.0.0/8, ::1, "localhost"), where
// the server may offer no TLS at all (tests).
struct MailServer {
  std::string scheme;  // "smtp", "smtps", "imap" or "imaps"
  std::string host;    // as written, without brackets for IPv6
  int port = 0;
  bool implicitTls = false;  // smtps / imaps
  bool loopback = false;
  // "scheme://host:port", IPv6 hosts in brackets: what messages show and
  // what libcurl is given.
  std::string Url() const;
  bool operator==(const MailServer&) const = default;
};

// Parses and checks a server address of the kind. Throws std::invalid_argument
// with a one-line message for anything else (another scheme, a path, a user
// or password in the address, a port out of range, no host).
MailServer ParseMailServer(std::string_view url, ServerKind kind);

struct AccountSettings {
  std::string smtpUrl;          // empty: mail goes out through the post office
  std::string imapUrl;          // empty: mail comes in from the post office
  std::string user;             // login name; empty: the profile's address
  std::string passwordCommand;  // run by /bin/sh -c; empty: asked from the person
  std::string caFile;           // certificates to trust; empty: the system's
  bool operator==(const AccountSettings&) const = default;
  bool HasServers() const { return !smtpUrl.empty() || !imapUrl.empty(); }
};

// Throws std::invalid_argument (one line) when a set URL does not parse or
// the CA file is given but cannot be read.
void CheckAccountSettings(const AccountSettings& account);

// Asks the person for a password: the prompt to show, e.g.
// "Password for bob@example.org (imaps://127.0.0.1:10993): ". Returns nullopt
// when nobody can answer (no terminal).
using PasswordPrompt = std::function<std::optional<std::string>(const std::string& prompt)>;

// Progress of a long transfer: the step ("Sending", "Fetching"...), what is
// done and the whole, in messages or bytes as the step says.
using TransferProgress =
    std::function<void(const std::string& step, std::uint64_t done, std::uint64_t total)>;

// The account's password, found once per object (one send/receive): the first
// line of the password command's standard output (its trailing CR LF or LF
// removed), or the prompt's answer when there is no command. The password is
// kept only in memory and never written to a message or a log.
class PasswordSource {
 public:
  // `account` names the account in messages (its address).
  PasswordSource(std::string account, std::string command, PasswordPrompt prompt, std::string serverUrl);
  // Throws TransportError ("Account X: the password command failed (exit
  // code N)" / "printed nothing" / "no password: nobody to ask") and asks or
  // runs again at the next call after a failure.
  const std::string& Get();
  // Forgets the password (after the server refused it).
  void Forget();

 private:
  std::string account_, command_, serverUrl_;
  PasswordPrompt prompt_;
  std::optional<std::string> password_;
};

}  // namespace host
