#pragma once
// The transport of a profile: the account's SMTP server and IMAP INBOX where
// the settings name them, the machine's post office for the rest.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/transport/account.hpp"
#include "host/transport/transport.hpp"

namespace host {

class PostOfficeTransport;
class SmtpSender;
class ImapMailbox;

class AccountTransport : public Transport {
 public:
  // `address` is the profile's address; `stateFile` the IMAP state file.
  AccountTransport(std::string address, AccountSettings settings, std::filesystem::path postOfficeDir,
                   std::filesystem::path stateFile, PasswordPrompt prompt, TransferProgress progress);
  ~AccountTransport() override;

  void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) override;
  // The account's INBOX for the profile's own address; the post office for
  // any other address and when the account has no IMAP server.
  std::unique_ptr<FetchedMail> Fetch(const std::string& mailboxAddress) override;
  std::vector<std::string> RemoveForGood(const std::string& mailboxAddress,
                                         const std::vector<std::string>& keys) override;

 private:
  std::string address_;
  std::unique_ptr<PostOfficeTransport> postOffice_;
  std::unique_ptr<SmtpSender> smtp_;
  std::unique_ptr<ImapMailbox> imap_;
};

}  // namespace host
