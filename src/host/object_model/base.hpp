#pragma once
// Types every area of the object model shares: the object base, the
// services the client runs on, caller modes, folder and item numbers.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/errors.hpp"
#include "host/faults.hpp"
#include "host/profile.hpp"
#include "host/subscription.hpp"
#include "host/ui/commandbars.hpp"
#include "host/ui/view.hpp"
#include "host/value.hpp"
#include "platform/clock.hpp"

namespace platform {
class UserInterface;
class KeyStore;
}  // namespace platform

namespace host {

class Transport;
class Application;
class NameSpace;
class Folder;
class Folders;
class Items;
class Item;
class ContactItem;
class MailItem;
class Attachments;
class ItemAttachment;
class Explorer;
class Explorers;
class Recipient;
class SyncObject;
class SyncObjects;
class SafeContactItem;
class SafeMailItem;
class MapiUtils;
class MapiObject;

namespace detail {
struct Core;
class Store;
struct ItemRecord;
}  // namespace detail

// Anything the client hands out; its default value is what a late-bound
// read of the object itself gives.
class Object {
 public:
  virtual ~Object() = default;
  virtual std::string DefaultValue() const = 0;
};

// What the client runs on.
struct HostServices {
  platform::Clock& clock;
  platform::UserInterface& ui;
  Transport& transport;
  platform::KeyStore& keys;
  // The zone of the clock's local times: mail dates are written and read
  // through it. Always given, so that no caller falls back to a zone that
  // is not the person's.
  const platform::TimeZoneInfo& timeZone;
};

enum class CallerMode { kProgram, kPerson };

// Default-folder numbers.
enum DefaultFolder : int {
  kFolderDeletedItems = 3,
  kFolderOutbox = 4,
  kFolderSentMail = 5,
  kFolderInbox = 6,
  kFolderContacts = 10,
};
// Item types (Items::Add, Application::CreateItem, Folder::DefaultItemType).
enum ItemType : int { kMailItem = 0, kContactItem = 2 };
// Folder types for Folders::Add.
enum FolderType : int { kFolderTypeMail = 6, kFolderTypeMailAlt = 12, kFolderTypeContacts = 10 };

// The sender's address property of MAPIUtils::HrGetOneProp.
inline constexpr std::uint32_t kPrSenderEmailAddress = 0x0C1F001E;


}  // namespace host
