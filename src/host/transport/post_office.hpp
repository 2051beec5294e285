#pragma once
// The default transport: a post-office folder shared by the profiles of this
// machine, holding one standard Maildir per address, so that ordinary mail
// readers can open it:
//   <root>/<mailbox name>/{tmp,new,cur}
// The mailbox name is the address folded to lower case, with every byte other
// than a-z 0-9 @ . _ + - written as %XX (and a leading dot as %2E), so that it
// is one safe path component; very long names are shortened with a hash.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/transport/transport.hpp"

namespace host {

class PostOfficeTransport : public Transport {
 public:
  explicit PostOfficeTransport(std::filesystem::path root);

  // Writes the message once per distinct recipient (addresses compared without
  // case; empty ones skipped) into that address's Maildir: to tmp/ under a
  // unique name "time.pid_counter.hostname", flushed to disk, then renamed into
  // new/. Mail for an address that no profile reads simply waits there. Every
  // recipient is tried; when some delivery fails, TransportError names them
  // afterwards. No recipient at all is a TransportError too.
  void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) override;

  // Claims each message of new/ by renaming it into cur/ with the ":2,S" info
  // suffix (so two fetchers never both take one) and parses it. A message that
  // cannot be read or parsed stays in cur/ and is skipped with a note on stderr,
  // so it is never tried again. An address without a Maildir has no mail.
  std::vector<MailMessage> Fetch(const std::string& mailboxAddress) override;

  // The addresses that have a Maildir here, sorted (for diagnostics). A name
  // that was shortened is listed as its folder name.
  std::vector<std::string> ListMailboxes() const;

  // The Maildir folder of an address (whether or not it exists yet). Throws
  // std::invalid_argument for an empty address.
  std::filesystem::path MailboxPath(std::string_view address) const;

  const std::filesystem::path& Root() const { return root_; }

  // The folder name of an address in the post office (see above).
  static std::string MailboxName(std::string_view address);

 private:
  std::filesystem::path root_;
};

}  // namespace host
