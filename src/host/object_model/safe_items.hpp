#pragma once
// The safe-item objects: protected fields read and mail sent without the security prompt.
#include "host/object_model/base.hpp"

namespace host {

// An opaque message object (MailItem::MAPIOBJECT).
class MapiObject {
 public:
  explicit MapiObject(std::shared_ptr<MailItem> mail) : mail_(std::move(mail)) {}
  const std::shared_ptr<MailItem>& Mail() const { return mail_; }

 private:
  std::shared_ptr<MailItem> mail_;
};

class SafeContactItem {
 public:
  explicit SafeContactItem(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  void SetItem(std::shared_ptr<ContactItem> contact);
  std::shared_ptr<ContactItem> GetItem() const { return item_; }
  // Reads any contact property, protected ones included, without asking.
  Variant GetProperty(std::string_view name) const;
  std::string Text(std::string_view name) const;
  std::string Email1Address() const { return Text("Email1Address"); }

 private:
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<ContactItem> item_;
};

class SafeMailItem {
 public:
  explicit SafeMailItem(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  void SetItem(std::shared_ptr<MailItem> mail);
  std::shared_ptr<MailItem> GetItem() const { return item_; }
  // Sends without asking.
  void Send();
  std::string SenderName() const;
  std::string SenderEmailAddress() const;
  Variant GetProperty(std::string_view name) const;

 private:
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<MailItem> item_;
};

class MapiUtils {
 public:
  explicit MapiUtils(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  // Only 0x0C1F001E (the sender's address) is known; HostError otherwise.
  std::string HrGetOneProp(const std::shared_ptr<MapiObject>& object, std::uint32_t tag) const;

 private:
  std::shared_ptr<detail::Core> core_;
};

}  // namespace host
