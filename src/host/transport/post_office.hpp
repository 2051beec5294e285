#pragma once
// The default transport: a post-office folder shared by the profiles of this
// machine, holding one standard Maildir per address, so that ordinary mail
// readers can open it:
//   <root>/<mailbox name>/{tmp,new,cur}
// The mailbox name is the address folded to lower case, with every byte other
// than a-z 0-9 @ . _ + - written as %XX (and a leading dot as %2E), so that it
// is one safe path component; very long names are shortened with a hash.
#include <chrono>
#include <cstdint>
#include <memory>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/transport/transport.hpp"

namespace host {

class PostOfficeTransport : public Transport {
 public:
  explicit PostOfficeTransport(std::filesystem::path root);

  // Refuses the message (TransportError, nothing delivered) when a recipient
  // is not a mail address. Otherwise writes it once per distinct recipient
  // (addresses compared without case; empty ones skipped) into that
  // address's Maildir: to tmp/ under a unique name "time.pid_counter.hostname",
  // flushed to disk, then renamed into new/. Mail for an address that no
  // profile reads simply waits there. Every recipient is tried; when some
  // delivery fails, TransportError names them afterwards and lists those
  // that got it. No recipient at all is a TransportError too.
  void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) override;

  // Locks the mailbox (an flock on its ".fetch-lock" file, waiting up to the
  // lock wait for another fetcher; TransportError when it stays busy), then
  // claims each message of new/ by renaming it into cur/ with the info
  // suffix ":2," (no flags), so that a mail reader never takes it for one
  // it has seen. The claimed messages are those, together with the files of
  // cur/ whose info is exactly ":2,": claims of a fetch that ended before
  // acknowledging. A key is the file's unique name (its name without the
  // info); Acknowledge renames cur/<key>:2, to cur/<key>:2,S and flushes
  // cur/. A file too large to read or not a regular file, and one that
  // cannot be parsed as a message, is unreadable (with its raw text when it
  // could be read). A message cut short (see MimeCutShort) is neither
  // claimed nor returned: it stays where it is, in new/ or cur/, and is
  // named among the problems of the first fetch that finds it only (the
  // mailbox's ".refused" file remembers it). An address without a Maildir
  // has no mail, and fetching it creates nothing; a mailbox folder, new/,
  // cur/ or tmp/ that is something other than a folder is a TransportError.
  std::unique_ptr<FetchedMail> Fetch(const std::string& mailboxAddress) override;

  // Fetches, reads and acknowledges every message of the address, for tools
  // and checks. An unreadable message is left out and stays claimed.
  std::vector<MailMessage> TakeAll(const std::string& mailboxAddress);

  // How long Fetch waits for a mailbox another fetcher has locked.
  void SetLockWait(std::chrono::milliseconds wait) { lockWait_ = wait; }

  // The addresses that have a Maildir here, sorted (for diagnostics). A name
  // that was shortened is listed as its folder name.
  std::vector<std::string> ListMailboxes() const;

  // The Maildir folder of an address (whether or not it exists yet). Throws
  // std::invalid_argument for an empty address.
  std::filesystem::path MailboxPath(std::string_view address) const;

  const std::filesystem::path& Root() const { return root_; }

  // The folder name of an address in the post office (see above).
  static std::string MailboxName(std::string_view address);

  // The lock file of a mailbox folder.
  static constexpr const char* kLockFile = ".fetch-lock";

 private:
  std::filesystem::path root_;
  std::chrono::milliseconds lockWait_{std::chrono::seconds(30)};
};

}  // namespace host
