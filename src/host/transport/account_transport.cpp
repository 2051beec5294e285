#include "host/transport/account_transport.hpp"

#include <utility>

#include "host/transport/imap.hpp"
#include "host/transport/post_office.hpp"
#include "host/transport/smtp.hpp"

namespace host {
namespace {

bool SameAddress(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

AccountTransport::AccountTransport(std::string address, AccountSettings settings,
                                   std::filesystem::path postOfficeDir, std::filesystem::path stateFile,
                                   PasswordPrompt prompt, TransferProgress progress)
    : address_(std::move(address)), postOffice_(std::make_unique<PostOfficeTransport>(std::move(postOfficeDir))) {
  std::optional<MailServer> smtp, imap;
  if (!settings.smtpUrl.empty()) smtp = ParseMailServer(settings.smtpUrl, ServerKind::kSmtp);
  if (!settings.imapUrl.empty()) imap = ParseMailServer(settings.imapUrl, ServerKind::kImap);
  if (!smtp && !imap) return;
  // One password for both servers, found at most once per object: the
  // prompt names the server asked first.
  const std::string promptUrl = imap ? imap->Url() : smtp->Url();
  auto password = std::make_shared<PasswordSource>(address_, settings.passwordCommand, std::move(prompt),
                                                   smtp && imap ? smtp->Url() + ", " + imap->Url() : promptUrl);
  if (smtp) smtp_ = std::make_unique<SmtpSender>(*smtp, settings, address_, password, progress);
  if (imap) imap_ = std::make_unique<ImapMailbox>(*imap, settings, address_, password, std::move(stateFile), progress);
}

AccountTransport::~AccountTransport() = default;

void AccountTransport::Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) {
  if (smtp_) {
    smtp_->Send(message, envelopeRecipients);
  } else {
    postOffice_->Send(message, envelopeRecipients);
  }
}

std::unique_ptr<FetchedMail> AccountTransport::Fetch(const std::string& mailboxAddress) {
  if (imap_ && SameAddress(mailboxAddress, address_)) return imap_->Fetch();
  return postOffice_->Fetch(mailboxAddress);
}

std::vector<std::string> AccountTransport::RemoveForGood(const std::string& mailboxAddress,
                                                         const std::vector<std::string>& keys) {
  if (imap_ && SameAddress(mailboxAddress, address_)) return imap_->Remove(keys);
  return postOffice_->RemoveForGood(mailboxAddress, keys);
}

}  // namespace host
