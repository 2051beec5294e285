#pragma once
// Sending through an account's SMTP server with libcurl.
#include <memory>
#include <string>
#include <vector>

#include "host/transport/account.hpp"
#include "host/transport/mail_message.hpp"

namespace host {

class SmtpSender {
 public:
  // `account` is the profile's address (login name when settings.user is
  // empty, envelope sender, and how messages name the account).
  SmtpSender(MailServer server, AccountSettings settings, std::string account,
             std::shared_ptr<PasswordSource> password, TransferProgress progress = {});
  ~SmtpSender();
  SmtpSender(const SmtpSender&) = delete;
  SmtpSender& operator=(const SmtpSender&) = delete;

  // Writes the message (WriteMime, CR LF; the bcc list never in the text)
  // and hands it to the server for every envelope recipient: TLS verified
  // against the system's certificates or settings.caFile (STARTTLS required
  // on plain smtp unless loopback), AUTH with the user and password, MAIL
  // FROM the account, RCPT TO each recipient. Returns when the server
  // accepted the message. Throws TransportError with no recipient delivered
  // when anything fails, a refused recipient included (the server then got
  // no message): "Account A, sending through URL: <why>", where why is one
  // line a person can act on (wrong user name or password, unknown host,
  // TLS refused or certificate not trusted, server not reachable, recipient
  // refused: <address>, ...).
  void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
