#pragma once
// The per-user key store ("registry hive"): a tree of keys holding named,
// typed values, persisted in one SQLite file per hive.
//
// Paths are relative to the hive's root and separated by backslashes; one
// trailing backslash is allowed ("Software\Vendor\"), the empty path is the
// root key itself. Key and value names are case-insensitive (ASCII folding)
// and case-preserving. Subkeys enumerate in case-insensitive alphabetical
// order, values in creation order (rewriting a value keeps its place).
//
// Every write is one SQLite transaction in WAL mode, so it is atomic and
// survives a crash of the program; several processes may open one hive.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Value types by their platform numbers.
enum RegType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegMultiSz = 7,
};

struct RegValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;

  bool operator==(const RegValue&) const = default;
};

// A value with its name, as a key lists it.
struct NamedValue {
  std::string name;
  RegValue value;

  bool operator==(const NamedValue&) const = default;
};

// Bad input (empty or over-long name, path with empty parts) or a failure of
// the underlying database. Missing keys and values are not errors.
class KeyStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The bad-input kind of KeyStoreError (empty or over-long name, a path with
// empty parts): the platform refuses the call, nothing is opened or written.
class KeyStoreInputError : public KeyStoreError {
 public:
  using KeyStoreError::KeyStoreError;
};

enum class DeleteKeyResult { kDeleted, kNotFound, kHasSubKeys };

class KeyStore {
 public:
  static constexpr std::size_t kMaxKeyNameLength = 255;
  static constexpr std::size_t kMaxValueNameLength = 16383;

  // How a hive is shared. kShared: any number of handles and processes may
  // have it open at once, each read takes the file's lock anew. kSoleUser:
  // the caller guarantees that nobody else opens the file meanwhile (the
  // client holds its profile's lock); the handle then keeps the file locked
  // from its first use until it is closed, and reads skip the locking.
  enum class Sharing { kShared, kSoleUser };

  // Opens the hive file, creating it (and its schema) when missing.
  static std::unique_ptr<KeyStore> Open(const std::filesystem::path& file, Sharing sharing = Sharing::kShared);
  virtual ~KeyStore() = default;

  // True when the key exists (it can be opened for reading).
  virtual bool KeyExists(std::string_view path) = 0;
  // Create-or-open, creating missing parents. True when the key was created now.
  virtual bool CreateKey(std::string_view path) = 0;
  // Type and raw bytes of a value; nullopt when the key or value is missing.
  // The empty value name is the key's default value.
  virtual std::optional<RegValue> QueryValue(std::string_view path, std::string_view name) = 0;
  // Writes a value into an existing key; false when the key does not exist.
  virtual bool SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                        std::span<const std::uint8_t> data) = 0;
  // Name of the index-th (0-based) subkey / value; nullopt past the end or
  // when the key is missing. Walking indexes 0,1,2,... costs O(1) per step.
  virtual std::optional<std::string> EnumSubKey(std::string_view path, std::size_t index) = 0;
  virtual std::optional<std::string> EnumValue(std::string_view path, std::size_t index) = 0;
  // Length of the longest value name of the key (0 when none or missing).
  virtual std::size_t MaxValueNameLength(std::string_view path) = 0;
  // Deletes a key that has no subkeys.
  virtual DeleteKeyResult DeleteKey(std::string_view path) = 0;
  // True when the value existed and was deleted.
  virtual bool DeleteValue(std::string_view path, std::string_view name) = 0;
  // Name of the first value of the key, in enumeration order, whose type and
  // raw bytes equal the given ones (indexed, not a scan); nullopt when none.
  virtual std::optional<std::string> FindValueByData(std::string_view path, std::uint32_t type,
                                                     std::span<const std::uint8_t> data) = 0;
  // The first value of the key, in enumeration order, that either has type
  // `type` and one of the byte strings `data`, or has another type and is
  // accepted by `otherType`. One indexed statement: values of `type` are
  // found through the index; only values of other types that come before
  // the indexed match are visited one by one, in enumeration order. nullopt
  // when none matches or the key is missing.
  virtual std::optional<std::string> FindFirstValue(
      std::string_view path, std::uint32_t type, std::span<const std::vector<std::uint8_t>> data,
      const std::function<bool(const RegValue&)>& otherType) = 0;

  // Every value of the key with its type and data, in enumeration order;
  // empty when the key is missing. One read of the key.
  virtual std::vector<NamedValue> ReadValues(std::string_view path);
  // Runs `writes`, calls on this handle, as one transaction: when it returns
  // every write it made is kept, when it throws none is (and the exception
  // goes on). A call inside another one is a part of it that is undone on
  // its own when it throws. While it runs, other handles and processes wait
  // to write: `writes` must not hand control to code that waits for them.
  virtual void Transact(const std::function<void()>& writes);
  // Makes the key (created with its parents when missing) hold exactly these
  // values, in this order; its subkeys are left alone. A value whose name
  // (compared case-insensitively) came earlier in the list replaces that
  // one's type and data in its place. One transaction: after a failure the
  // key is as it was. Nothing is written when the key holds exactly these
  // values already.
  virtual void ReplaceValues(std::string_view path, std::span<const NamedValue> values);
  // Writes these values into the key (created with its parents when
  // missing), as SetValue would one after the other, in one transaction:
  // after a failure none of them is written.
  virtual void SetValues(std::string_view path, std::span<const NamedValue> values);
};

// Replaces every %NAME% by the value of the environment variable NAME, as the
// platform's expansion does; references to unknown variables stay as they are.
// `lookup` defaults to the process environment.
std::string ExpandEnvironmentStrings(std::string_view text,
                                     const std::function<std::optional<std::string>(std::string_view)>&
                                         lookup = {});

}  // namespace platform
