#pragma once
// Receiving from an account's IMAP INBOX with libcurl.
//
// What was taken is kept in a state file of the profile (SQLite): the
// mailbox's UIDVALIDITY, the UIDs acknowledged (a message's UID is recorded
// only once the client has stored it, see Transport) and the Message-IDs of
// the messages taken. Fetch claims the messages with a UID not recorded. When
// the server's UIDVALIDITY differs from the stored one, every message is
// looked at again, and one whose Message-ID was taken before is acknowledged
// at once instead of being handed over a second time.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/transport/account.hpp"
#include "host/transport/transport.hpp"

namespace host {

class ImapMailbox {
 public:
  ImapMailbox(MailServer server, AccountSettings settings, std::string account,
              std::shared_ptr<PasswordSource> password, std::filesystem::path stateFile,
              TransferProgress progress = {});
  ~ImapMailbox();
  ImapMailbox(const ImapMailbox&) = delete;
  ImapMailbox& operator=(const ImapMailbox&) = delete;

  // Logs in, selects INBOX, lists the messages not yet taken. Keys are
  // "<uidvalidity>.<uid>". Throws TransportError ("Account A, receiving from
  // URL: <why>", one line) when the server cannot be reached, refuses the
  // login or has no INBOX.
  std::unique_ptr<FetchedMail> Fetch();

  // Flags the messages named by their keys \Deleted on the server and
  // expunges them. Returns the keys that are gone (deleted now, or no longer
  // there / of another UIDVALIDITY). Throws TransportError when the server
  // cannot be reached.
  std::vector<std::string> Remove(const std::vector<std::string>& keys);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
