#pragma once
// The send/receive group.
#include "host/object_model/base.hpp"

namespace host {

class SyncObject : public Object {
 public:
  explicit SyncObject(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  std::string Name() const { return "All Accounts"; }
  std::string DefaultValue() const override { return Name(); }
  // Raises SyncStart, sends every submitted Outbox mail through the
  // transport into Sent Items, then fetches new mail into the Inbox.
  void Start();
  Subscription OnSyncStart(std::function<void()> handler);
  Subscription OnSyncEnd(std::function<void()> handler);
  // What went wrong in the last Start (a mail that could not be sent stays
  // in the Outbox; a fetch that failed is tried again next time).
  const std::vector<std::string>& LastErrors() const;

 private:
  std::shared_ptr<detail::Core> core_;
};

class SyncObjects {
 public:
  explicit SyncObjects(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  int Count() const { return 1; }
  // 1-based; the one send/receive group.
  std::shared_ptr<SyncObject> Item(int index) const;

 private:
  std::shared_ptr<detail::Core> core_;
};

}  // namespace host
