#pragma once
// How the client hands mail to the outside world and takes it back.
#include <stdexcept>
#include <string>
#include <vector>

#include "host/transport/mail_message.hpp"

namespace host {

// A delivery or mailbox access that failed (disk full, no permission...).
class TransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Delivers the message to every envelope recipient (the to, cc and bcc
  // addresses, see EnvelopeRecipients). The message's own bcc list is never
  // written into the delivered text.
  virtual void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) = 0;
  // The messages that arrived for the address since the last fetch, oldest
  // first. Each message is returned exactly once: after it is returned, it is
  // never returned again, by this or any other fetcher.
  virtual std::vector<MailMessage> Fetch(const std::string& mailboxAddress) = 0;
};

}  // namespace host
