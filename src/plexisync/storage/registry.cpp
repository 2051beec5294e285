#include "plexisync/storage/registry.hpp"

#include "platform/text.hpp"
#include "plexisync/core/errors.hpp"

namespace plexisync {
namespace {

const char* const kSource = "Plexisync.CRegistry";

std::string DecodeText(const Bytes& data) {
  std::string s(data.begin(), data.end());
  if (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

}  // namespace

Variant CRegistry::Convert(const platform::RegValue& v) {
  switch (v.type) {
    case platform::kRegSz:
    case platform::kRegMultiSz:
      return DecodeText(v.data);
    case platform::kRegExpandSz:
      return platform::ExpandEnvironmentStrings(DecodeText(v.data));
    case platform::kRegDword:
    case platform::kRegDwordBigEndian: {
      if (v.data.size() != 4) return v.data;
      std::uint32_t n = 0;
      for (int i = 3; i >= 0; --i) n = (n << 8) | v.data[static_cast<std::size_t>(i)];
      if (v.type == platform::kRegDwordBigEndian) {
        n = ((n & 0xFFu) << 24) | ((n & 0xFF00u) << 8) | ((n >> 8) & 0xFF00u) | (n >> 24);
      }
      return static_cast<std::int32_t>(n);
    }
    default:
      return v.data;
  }
}

Bytes EncodeRegText(std::string_view text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

std::uint32_t TextValueType(std::string_view text) {
  const auto first = text.find('%');
  if (first == std::string_view::npos) return platform::kRegSz;
  const auto second = text.find('%', first + 2);
  return second == std::string_view::npos ? platform::kRegSz : platform::kRegExpandSz;
}

CRegistry::CRegistry(HiveProvider hives) : hives_(std::move(hives)) {}

platform::KeyStore* CRegistry::Hive() const { return hives_ ? hives_(root_) : nullptr; }

void CRegistry::RequireKeyName(std::string_view keyName) const {
  if (keyName.empty()) throw AddinError(kErrInvalidKeyName, "Invalid KeyName value", kSource);
}

// Runs `f` on the hive behind the root key. No hive, or input the key store
// refuses (over-long or malformed names), is an ordinary failed open that
// gives `refused`; anything else unexpected is a component failure.
template <typename R, typename F>
R CRegistry::WithHive(R refused, F&& f) {
  try {
    auto* hive = Hive();
    if (!hive) return refused;
    return f(*hive);
  } catch (const platform::KeyStoreInputError&) {
    return refused;
  } catch (const AddinError&) {
    throw;
  } catch (const std::exception&) {
    throw AddinError(kErrComponentFailure, "CRegistry component failure", kSource);
  }
}

bool CRegistry::CreateKey(std::string_view keyName) {
  RequireKeyName(keyName);
  return WithHive(false, [&](platform::KeyStore& hive) {
    hive.CreateKey(keyName);
    return true;
  });
}

bool CRegistry::DeleteKey(std::string_view keyName) {
  RequireKeyName(keyName);
  return WithHive(false, [&](platform::KeyStore& hive) {
    return hive.DeleteKey(keyName) == platform::DeleteKeyResult::kDeleted;
  });
}

bool CRegistry::DeleteValue(std::string_view keyName, std::string_view valueName) {
  RequireKeyName(keyName);
  return WithHive(false, [&](platform::KeyStore& hive) { return hive.DeleteValue(keyName, valueName); });
}

template <typename Enumerate>
std::size_t CRegistry::ListNames(std::string_view keyName, std::vector<std::string>& names, Enumerate&& next) {
  names.clear();
  WithHive(false, [&](platform::KeyStore& hive) {
    if (!hive.KeyExists(keyName)) return false;
    for (std::size_t i = 0;; ++i) {
      auto name = next(hive, i);
      if (!name) break;
      names.push_back(std::move(*name));
    }
    return true;
  });
  return names.size();
}

std::size_t CRegistry::GetAllSubKeys(std::string_view keyName, std::vector<std::string>& names) {
  return ListNames(keyName, names, [&](platform::KeyStore& hive, std::size_t i) {
    auto name = hive.EnumSubKey(keyName, i);
    // Subkey names are read into a buffer of 256 characters and cut at a NUL.
    if (name) {
      if (auto nul = name->find('\0'); nul != std::string::npos) name->resize(nul);
      if (name->size() > 255) name->resize(255);
    }
    return name;
  });
}

std::size_t CRegistry::GetAllValueNames(std::string_view keyName, std::vector<std::string>& names) {
  return ListNames(keyName, names,
                   [&](platform::KeyStore& hive, std::size_t i) { return hive.EnumValue(keyName, i); });
}

std::vector<std::string> CRegistry::GetAllSubKeys(std::string_view keyName) {
  std::vector<std::string> names;
  GetAllSubKeys(keyName, names);
  return names;
}

std::vector<std::string> CRegistry::GetAllValueNames(std::string_view keyName) {
  std::vector<std::string> names;
  GetAllValueNames(keyName, names);
  return names;
}

Variant CRegistry::GetValue(std::string_view keyName, std::string_view valueName, const Variant& def) {
  return WithHive(def, [&](platform::KeyStore& hive) -> Variant {
    auto v = hive.QueryValue(keyName, valueName);
    return v ? Convert(*v) : def;
  });
}

std::string CRegistry::GetString(std::string_view keyName, std::string_view valueName, std::string_view def) {
  return VariantToText(GetValue(keyName, valueName, std::string(def)));
}

bool CRegistry::KeyExists(std::string_view keyName) {
  RequireKeyName(keyName);
  return WithHive(false, [&](platform::KeyStore& hive) { return hive.KeyExists(keyName); });
}

bool CRegistry::SetValue(std::string_view keyName, std::string_view valueName, const Variant& value,
                         std::int32_t valueType) {
  RequireKeyName(keyName);
  return WithHive(false, [&](platform::KeyStore& hive) {
    hive.CreateKey(keyName);
    switch (valueType) {
      case 1:
      case 2: {
        const std::string text = VariantToText(value);
        return hive.SetValue(keyName, valueName, TextValueType(text), EncodeRegText(text));
      }
      case 3:
        if (const auto* bytes = std::get_if<Bytes>(&value)) {
          return hive.SetValue(keyName, valueName, platform::kRegBinary, *bytes);
        }
        return true;  // not an array of bytes: nothing is written
      case 4:
      case 5: {
        std::uint32_t n = 0;
        if (const auto* i16 = std::get_if<std::int16_t>(&value)) {
          n = static_cast<std::uint32_t>(static_cast<std::int32_t>(*i16));
        } else if (const auto* i32 = std::get_if<std::int32_t>(&value)) {
          n = static_cast<std::uint32_t>(*i32);
        } else {
          return true;  // not an integer: nothing is written
        }
        const Bytes data{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                         static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        return hive.SetValue(keyName, valueName, platform::kRegDword, data);
      }
      default:
        return false;
    }
  });
}

std::int32_t CRegistry::ValueType(std::string_view keyName, std::string_view valueName) {
  RequireKeyName(keyName);
  return WithHive(0, [&](platform::KeyStore& hive) {
    auto v = hive.QueryValue(keyName, valueName);
    return v ? static_cast<std::int32_t>(v->type) : 0;
  });
}

std::string CRegistry::FindValueNameByText(std::string_view keyName, std::string_view text) {
  return WithHive(std::string(), [&](platform::KeyStore& hive) {
    // A plain text value reads as `text` exactly when its bytes are the text
    // with or without the one terminating NUL: both forms are found through
    // the store's index. Values of every other type read differently from
    // their bytes (expanded, converted); the few that come before the indexed
    // match are converted as GetValue does and compared. Bytes without a
    // final NUL read as they are, so the second form is only asked for a text
    // that does not itself end in a NUL.
    std::vector<Bytes> forms{EncodeRegText(text)};
    if (text.empty() || text.back() != '\0') forms.emplace_back(text.begin(), text.end());
    auto found = hive.FindFirstValue(keyName, platform::kRegSz, forms, [&](const platform::RegValue& v) {
      return VariantToText(Convert(v)) == text;
    });
    return found ? *found : std::string();
  });
}

std::vector<std::pair<std::string, std::string>> CRegistry::GetAllValueTexts(std::string_view keyName) {
  std::vector<std::pair<std::string, std::string>> texts;
  WithHive(false, [&](platform::KeyStore& hive) {
    auto values = hive.ReadValues(keyName);
    texts.reserve(values.size());
    for (auto& v : values) {
      if (v.value.type == platform::kRegSz || v.value.type == platform::kRegMultiSz) {
        // Plain text reads as its bytes without the terminating NUL.
        texts.emplace_back(std::move(v.name), DecodeText(v.value.data));
      } else {
        texts.emplace_back(std::move(v.name), VariantToText(Convert(v.value)));
      }
    }
    return true;
  });
  return texts;
}

namespace {
std::vector<platform::NamedValue> StoredTexts(const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<platform::NamedValue> stored;
  stored.reserve(values.size());
  for (const auto& [name, text] : values) {
    stored.push_back(platform::NamedValue{name, platform::RegValue{TextValueType(text), EncodeRegText(text)}});
  }
  return stored;
}
}  // namespace

bool CRegistry::ReplaceTextValues(std::string_view keyName,
                                  const std::vector<std::pair<std::string, std::string>>& values) {
  RequireKeyName(keyName);
  const auto stored = StoredTexts(values);
  return WithHive(false, [&](platform::KeyStore& hive) {
    hive.ReplaceValues(keyName, stored);
    return true;
  });
}

bool CRegistry::SetTextValues(std::string_view keyName, const std::vector<std::pair<std::string, std::string>>& values) {
  RequireKeyName(keyName);
  const auto stored = StoredTexts(values);
  return WithHive(false, [&](platform::KeyStore& hive) {
    hive.SetValues(keyName, stored);
    return true;
  });
}

void CRegistry::Transact(const std::function<void()>& writes) {
  auto* hive = Hive();
  // Without a hive every write is refused on its own.
  if (!hive) return writes();
  try {
    hive->Transact(writes);
  } catch (const platform::KeyStoreError&) {
    throw AddinError(kErrComponentFailure, "CRegistry component failure", kSource);
  }
}

}  // namespace plexisync
