#pragma once
// CRegistry: the add-in's one accessor of the key store. Every operation
// opens what it needs and reports ordinary failures (missing key or value,
// a refused open, the end of an enumeration) through its result; only an
// empty key name and unexpected failures raise an AddinError.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/keystore.hpp"
#include "plexisync/core/variant.hpp"

namespace plexisync {

inline constexpr std::int32_t HKEY_CLASSES_ROOT = static_cast<std::int32_t>(0x80000000u);
inline constexpr std::int32_t HKEY_CURRENT_USER = static_cast<std::int32_t>(0x80000001u);
inline constexpr std::int32_t HKEY_LOCAL_MACHINE = static_cast<std::int32_t>(0x80000002u);

inline constexpr std::int32_t kErrInvalidKeyName = static_cast<std::int32_t>(0x80044651u);
inline constexpr std::int32_t kErrComponentFailure = static_cast<std::int32_t>(0x80044653u);

class CRegistry {
 public:
  // Gives the hive behind a predefined root key, or nullptr when this
  // machine has none (every open under that root then fails).
  using HiveProvider = std::function<platform::KeyStore*(std::int32_t rootKey)>;

  explicit CRegistry(HiveProvider hives);

  void Init(std::int32_t rootKey) { root_ = rootKey; }
  std::int32_t RootKey() const { return root_; }
  void SetRootKey(std::int32_t eKey) { root_ = eKey; }

  bool CreateKey(std::string_view keyName);
  bool DeleteKey(std::string_view keyName);
  bool DeleteValue(std::string_view keyName, std::string_view valueName);
  // Names in enumeration order; the count is the vector's size.
  std::size_t GetAllSubKeys(std::string_view keyName, std::vector<std::string>& names);
  std::size_t GetAllValueNames(std::string_view keyName, std::vector<std::string>& names);
  std::vector<std::string> GetAllSubKeys(std::string_view keyName);
  std::vector<std::string> GetAllValueNames(std::string_view keyName);
  // The value converted by its stored type, or `def` when it cannot be read.
  Variant GetValue(std::string_view keyName, std::string_view valueName, const Variant& def);
  // GetValue converted to text (the common case of string defaults).
  std::string GetString(std::string_view keyName, std::string_view valueName, std::string_view def);
  bool KeyExists(std::string_view keyName);
  bool SetValue(std::string_view keyName, std::string_view valueName, const Variant& value,
                std::int32_t valueType = 1);
  // Stored type number, 0 when the key or value does not exist.
  std::int32_t ValueType(std::string_view keyName, std::string_view valueName);

  // Name of the first value of the key, in enumeration order, whose text
  // (read as GetValue reads it) equals `text`; "" when none. Indexed.
  std::string FindValueNameByText(std::string_view keyName, std::string_view text);

  // Every value of the key, in enumeration order, with its text as
  // GetString reads it; empty when the key does not exist. One read.
  std::vector<std::pair<std::string, std::string>> GetAllValueTexts(std::string_view keyName);
  // Makes the key (created when missing) hold exactly these text values, in
  // this order, each stored as SetValue stores a text; subkeys are left
  // alone. All or nothing; nothing is written when the key holds these
  // already. False when refused (as SetValue), a component failure raises.
  bool ReplaceTextValues(std::string_view keyName, const std::vector<std::pair<std::string, std::string>>& values);
  // Writes these text values into the key (created when missing) as
  // SetValue writes each, all or none. False when refused (as SetValue), a
  // component failure raises.
  bool SetTextValues(std::string_view keyName, const std::vector<std::pair<std::string, std::string>>& values);
  // Runs `writes` (calls on this accessor) as one transaction of the key
  // store: all of their writes are kept, or, when `writes` throws, none, and
  // the failure goes on to the caller. `writes` must not yield to the
  // client's message loop.
  void Transact(const std::function<void()>& writes);

  // A stored value converted by its type, as GetValue returns it.
  static Variant Convert(const platform::RegValue& v);

 private:
  platform::KeyStore* Hive() const;
  void RequireKeyName(std::string_view keyName) const;
  template <typename R, typename F>
  R WithHive(R refused, F&& f);
  template <typename Enumerate>
  std::size_t ListNames(std::string_view keyName, std::vector<std::string>& names, Enumerate&& next);

  HiveProvider hives_;
  std::int32_t root_ = HKEY_CLASSES_ROOT;
};

// The stored form of a text value (UTF-8 bytes and one terminating NUL) and
// the type SetValue chooses for it: 2 when the text holds a "%", one or more
// other characters and a further "%", else 1.
Bytes EncodeRegText(std::string_view text);
std::uint32_t TextValueType(std::string_view text);

}  // namespace plexisync
