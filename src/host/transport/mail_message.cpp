#include "host/transport/mail_message.hpp"

#include <algorithm>

#include "platform/text.hpp"

namespace host {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Removes surrounding double quotes and backslash escapes from a display name.
std::string Unquote(std::string_view s) {
  s = TrimSpace(s);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    s = s.substr(1, s.size() - 2);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\\' && i + 1 < s.size()) ++i;
      out += s[i];
    }
    return out;
  }
  return std::string(s);
}

Address ParseEntry(std::string_view entry) {
  Address a;
  // "Name <address>": the angle brackets outside quotes hold the address.
  bool quoted = false;
  size_t open = std::string_view::npos;
  for (size_t i = 0; i < entry.size(); ++i) {
    char c = entry[i];
    if (quoted && c == '\\') {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '<') {
      open = i;
      break;
    }
  }
  if (open != std::string_view::npos) {
    size_t close = entry.find('>', open + 1);
    std::string_view inside =
        entry.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    a.address = std::string(TrimSpace(inside));
    a.name = Unquote(entry.substr(0, open));
    return a;
  }
  // "address (Name)".
  std::string_view rest = TrimSpace(entry);
  if (!rest.empty() && rest.back() == ')') {
    size_t lp = rest.find('(');
    if (lp != std::string_view::npos && lp > 0) {
      a.name = std::string(TrimSpace(rest.substr(lp + 1, rest.size() - lp - 2)));
      a.address = std::string(TrimSpace(rest.substr(0, lp)));
      return a;
    }
  }
  a.address = std::string(rest);
  return a;
}

bool IsAsciiAlnum(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsDomainLabel(std::string_view label) {
  if (label.empty() || label.front() == '-' || label.back() == '-') return false;
  for (unsigned char c : label) {
    if (!IsAsciiAlnum(c) && c != '-' && c < 0x80) return false;
  }
  return true;
}

}  // namespace

bool IsMailAddress(std::string_view address) {
  address = TrimSpace(address);
  size_t at = address.find('@');
  if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos) return false;
  std::string_view local = address.substr(0, at), domain = address.substr(at + 1);
  if (local.empty() || domain.empty()) return false;
  for (unsigned char c : address) {
    if (c <= 0x20 || c == 0x7F) return false;
    if (std::string_view("()<>[],;:\\\"").find(static_cast<char>(c)) != std::string_view::npos) return false;
  }
  size_t labels = 0;
  for (size_t start = 0;;) {
    size_t dot = domain.find('.', start);
    if (!IsDomainLabel(domain.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start))) {
      return false;
    }
    ++labels;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return labels >= 2 || platform::FoldCase(std::string(domain)) == "localhost";
}

std::vector<std::string> InvalidRecipients(std::string_view text) {
  std::vector<std::string> bad;
  for (const Address& a : ParseAddressList(text)) {
    if (!IsMailAddress(a.address)) bad.push_back(a.address.empty() ? a.name : a.address);
  }
  return bad;
}

std::vector<Address> ParseAddressList(std::string_view text) {
  std::vector<Address> out;
  bool quoted = false;
  bool angle = false;
  size_t start = 0;
  auto flush = [&](size_t end) {
    std::string_view entry = TrimSpace(text.substr(start, end - start));
    if (!entry.empty()) {
      Address a = ParseEntry(entry);
      if (!a.address.empty() || !a.name.empty()) out.push_back(std::move(a));
    }
    start = end + 1;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      angle = true;
    } else if (c == '>') {
      angle = false;
    } else if ((c == ';' || c == ',') && !angle) {
      flush(i);
    }
  }
  if (start < text.size()) flush(text.size());
  return out;
}

std::string FormatAddress(const Address& a) {
  if (a.name.empty()) return a.address;
  bool special = a.name.find_first_of("()<>[]:;@\\,.\"") != std::string::npos;
  std::string name;
  if (special) {
    name = "\"";
    for (char c : a.name) {
      if (c == '"' || c == '\\') name += '\\';
      name += c;
    }
    name += '"';
  } else {
    name = a.name;
  }
  if (a.address.empty()) return name;
  return name + " <" + a.address + ">";
}

std::string FormatAddressList(const std::vector<Address>& list) {
  std::string out;
  for (const Address& a : list) {
    if (!out.empty()) out += "; ";
    out += FormatAddress(a);
  }
  return out;
}

std::vector<std::string> EnvelopeRecipients(const MailMessage& m) {
  std::vector<std::string> out;
  std::vector<std::string> folded;
  for (const auto* list : {&m.to, &m.cc, &m.bcc}) {
    for (const Address& a : *list) {
      std::string addr(TrimSpace(a.address));
      if (addr.empty()) continue;
      std::string key = platform::FoldCase(addr);
      if (std::find(folded.begin(), folded.end(), key) != folded.end()) continue;
      folded.push_back(std::move(key));
      out.push_back(std::move(addr));
    }
  }
  return out;
}

}  // namespace host
