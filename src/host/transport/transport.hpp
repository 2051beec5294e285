#pragma once
// How the client hands mail to the outside world and takes it back.
//
// Receiving is in two steps so that no message is lost or taken twice when
// the receiver fails or dies half-way: Fetch claims the waiting messages
// (no other fetcher gets them from then on) and the receiver, once it has
// stored a message for good, acknowledges it by its key. A message that was
// claimed but never acknowledged comes back in the next Fetch with the same
// key, so a receiver that records the keys it stored can tell it already has
// it.
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/transport/mail_message.hpp"

namespace host {

// A delivery or mailbox access that failed (disk full, no permission...).
// For Send, `Delivered()` names the envelope recipients that did get the
// message before the failure (empty: nobody got it).
class TransportError : public std::runtime_error {
 public:
  explicit TransportError(const std::string& what, std::vector<std::string> delivered = {})
      : std::runtime_error(what), delivered_(std::move(delivered)) {}
  const std::vector<std::string>& Delivered() const { return delivered_; }

 private:
  std::vector<std::string> delivered_;
};

// One claimed message as Fetch hands it over.
struct ArrivedMessage {
  std::string key;
  // The message, when it could be read.
  MailMessage message;
  // Why the message could not be read, for good (it cannot be parsed, is
  // too large...); empty when `message` holds it. Such a message is still
  // claimed: the receiver keeps what there is of it and acknowledges it.
  std::string unreadable;
  // What the transport could read of an unreadable message (its raw text),
  // possibly nothing.
  std::string rawText;
  // Where the transport keeps an unreadable message, for the person.
  std::string location;
};

// The messages one Fetch claimed for a mailbox. While this object lives no
// other fetcher of that mailbox gets any message; destroying it ends the
// fetch, and whatever was not acknowledged stays claimed for the next one.
class FetchedMail {
 public:
  virtual ~FetchedMail() = default;
  // The keys of the claimed messages, oldest first: unique within the
  // transport and the same in every Fetch that returns the message.
  virtual const std::vector<std::string>& Keys() const = 0;
  // What went wrong while claiming without stopping the fetch (a message
  // that could not be claimed waits for the next one), for the person.
  virtual const std::vector<std::string>& Problems() const = 0;
  // Reads one claimed message. Throws TransportError when it cannot be read
  // now (it stays claimed and is tried again by the next Fetch); a message
  // that can never be read comes back with `unreadable` set instead.
  virtual ArrivedMessage Read(const std::string& key) = 0;
  // Marks the message as received for good: no Fetch returns it again. Once
  // this returns the mark is on disk. Acknowledging twice is harmless.
  // Throws TransportError.
  virtual void Acknowledge(const std::string& key) = 0;
};

// A fetch that claimed nothing.
class NoMail final : public FetchedMail {
 public:
  const std::vector<std::string>& Keys() const override { return none_; }
  const std::vector<std::string>& Problems() const override { return none_; }
  ArrivedMessage Read(const std::string& key) override { throw TransportError("No such message: " + key); }
  void Acknowledge(const std::string&) override {}

 private:
  std::vector<std::string> none_;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Delivers the message to every envelope recipient (the to, cc and bcc
  // addresses, see EnvelopeRecipients). The message's own bcc list is never
  // written into the delivered text. A recipient that is not a mail address
  // (IsMailAddress) is refused before anything is delivered.
  virtual void Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) = 0;
  // Claims the messages waiting for the address, together with those an
  // earlier fetch claimed and never acknowledged. Never null.
  virtual std::unique_ptr<FetchedMail> Fetch(const std::string& mailboxAddress) = 0;
  // Deletes, where the transport keeps them, the acknowledged messages of the
  // mailbox that the client has since deleted for good, named by their keys
  // as Fetch gave them. Returns the keys that are gone now (deleted, or no
  // longer there); the others are asked for again at the next send/receive.
  // Throws TransportError. A transport that keeps nothing once a message is
  // acknowledged has nothing to delete: every key is gone.
  virtual std::vector<std::string> RemoveForGood(const std::string& mailboxAddress,
                                                 const std::vector<std::string>& keys) {
    (void)mailboxAddress;
    return keys;
  }
};

}  // namespace host
