#include "host/restrict.hpp"

#include <array>
#include <cctype>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/errors.hpp"
#include "platform/text.hpp"

namespace host::detail {

enum class CompareOp { kEq, kNe, kLt, kGt, kLe, kGe };

struct FilterNode {
  enum class Kind { kAnd, kOr, kNot, kCompare } kind = Kind::kCompare;
  std::vector<std::shared_ptr<const FilterNode>> children;
  // kCompare: per item kind (mail, contact) the schema index and the value
  // converted to the property's type; no index when that kind lacks it.
  CompareOp op = CompareOp::kEq;
  std::array<std::optional<std::size_t>, 2> index;
  std::array<Variant, 2> value;
  bool isMessageClass = false;
};

namespace {

int Sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareText(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return Sign(static_cast<long long>(a.size()) - static_cast<long long>(b.size()));
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::shared_ptr<const FilterNode> ParseAll() {
    auto node = ParseOr();
    SkipBlanks();
    if (pos_ != s_.size()) Fail();
    return node;
  }

 private:
  [[noreturn]] void Fail() { throw HostError("Cannot parse condition: " + std::string(s_)); }

  void SkipBlanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) {
      ++pos_;
    }
  }

  // A keyword (and/or/not) followed by a blank, a parenthesis, a bracket or
  // the end.
  bool Keyword(std::string_view word) {
    SkipBlanks();
    if (s_.size() - pos_ < word.size()) return false;
    if (!platform::EqualsIgnoreCase(s_.substr(pos_, word.size()), word)) return false;
    std::size_t end = pos_ + word.size();
    if (end < s_.size()) {
      char c = s_[end];
      if (!(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == '[')) return false;
    }
    pos_ = end;
    return true;
  }

  std::shared_ptr<const FilterNode> ParseOr() {
    auto first = ParseAnd();
    std::vector<std::shared_ptr<const FilterNode>> parts{first};
    while (Keyword("or")) parts.push_back(ParseAnd());
    if (parts.size() == 1) return first;
    auto node = std::make_shared<FilterNode>();
    node->kind = FilterNode::Kind::kOr;
    node->children = std::move(parts);
    return node;
  }

  std::shared_ptr<const FilterNode> ParseAnd() {
    auto first = ParseUnary();
    std::vector<std::shared_ptr<const FilterNode>> parts{first};
    while (Keyword("and")) parts.push_back(ParseUnary());
    if (parts.size() == 1) return first;
    auto node = std::make_shared<FilterNode>();
    node->kind = FilterNode::Kind::kAnd;
    node->children = std::move(parts);
    return node;
  }

  std::shared_ptr<const FilterNode> ParseUnary() {
    if (++depth_ > 200) Fail();
    std::shared_ptr<const FilterNode> result;
    if (Keyword("not")) {
      auto node = std::make_shared<FilterNode>();
      node->kind = FilterNode::Kind::kNot;
      node->children.push_back(ParseUnary());
      result = node;
    } else {
      SkipBlanks();
      if (pos_ < s_.size() && s_[pos_] == '(') {
        ++pos_;
        result = ParseOr();
        SkipBlanks();
        if (pos_ >= s_.size() || s_[pos_] != ')') Fail();
        ++pos_;
      } else {
        result = ParseComparison();
      }
    }
    --depth_;
    return result;
  }

  std::shared_ptr<const FilterNode> ParseComparison() {
    SkipBlanks();
    if (pos_ >= s_.size() || s_[pos_] != '[') Fail();
    std::size_t close = s_.find(']', pos_ + 1);
    if (close == std::string_view::npos) Fail();
    std::string name = platform::Trim(s_.substr(pos_ + 1, close - pos_ - 1));
    if (name.empty()) Fail();
    pos_ = close + 1;
    SkipBlanks();
    CompareOp op;
    if (s_.substr(pos_, 2) == "<>") {
      op = CompareOp::kNe;
      pos_ += 2;
    } else if (s_.substr(pos_, 2) == "<=") {
      op = CompareOp::kLe;
      pos_ += 2;
    } else if (s_.substr(pos_, 2) == ">=") {
      op = CompareOp::kGe;
      pos_ += 2;
    } else if (s_.substr(pos_, 1) == "=") {
      op = CompareOp::kEq;
      ++pos_;
    } else if (s_.substr(pos_, 1) == "<") {
      op = CompareOp::kLt;
      ++pos_;
    } else if (s_.substr(pos_, 1) == ">") {
      op = CompareOp::kGt;
      ++pos_;
    } else {
      Fail();
    }
    std::string value = ParseValue();

    auto node = std::make_shared<FilterNode>();
    node->kind = FilterNode::Kind::kCompare;
    node->op = op;
    node->isMessageClass = platform::EqualsIgnoreCase(name, "MessageClass");
    bool known = false;
    for (ItemKind kind : {ItemKind::kMail, ItemKind::kContact}) {
      const PropertySchema& schema = SchemaOf(kind);
      auto index = schema.IndexOf(name);
      if (!index) continue;
      known = true;
      int k = static_cast<int>(kind);
      node->index[k] = index;
      try {
        node->value[k] = VariantFromText(schema.At(*index).type, value);
      } catch (const std::exception&) {
        Fail();
      }
    }
    if (!known) {
      throw HostError("The property \"" + name + "\" in the condition is not valid: " + std::string(s_));
    }
    return node;
  }

  std::string ParseValue() {
    SkipBlanks();
    if (pos_ >= s_.size()) Fail();
    char q = s_[pos_];
    if (q == '"' || q == '\'') {
      std::string out;
      ++pos_;
      while (true) {
        if (pos_ >= s_.size()) Fail();
        char c = s_[pos_++];
        if (c == q) {
          if (pos_ < s_.size() && s_[pos_] == q) {
            out.push_back(q);
            ++pos_;
            continue;
          }
          return out;
        }
        out.push_back(c);
      }
    }
    std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] != ' ' && s_[pos_] != '\t' && s_[pos_] != '\r' && s_[pos_] != '\n' &&
           s_[pos_] != '(' && s_[pos_] != ')' && s_[pos_] != '[') {
      ++pos_;
    }
    if (pos_ == start) Fail();
    return std::string(s_.substr(start, pos_ - start));
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

bool Evaluate(const FilterNode& n, const ItemRecord& item, const StoreId& store) {
  switch (n.kind) {
    case FilterNode::Kind::kAnd:
      for (const auto& c : n.children) {
        if (!Evaluate(*c, item, store)) return false;
      }
      return true;
    case FilterNode::Kind::kOr:
      for (const auto& c : n.children) {
        if (Evaluate(*c, item, store)) return true;
      }
      return false;
    case FilterNode::Kind::kNot:
      return !Evaluate(*n.children.front(), item, store);
    case FilterNode::Kind::kCompare:
      break;
  }
  int k = static_cast<int>(item.kind);
  if (!n.index[k]) return false;
  int c;
  // The message class is the most common condition: compare without copies.
  if (n.isMessageClass) {
    c = CompareText(item.messageClass, std::get<std::string>(n.value[k]));
  } else {
    Variant v = PropertyValue(item, *n.index[k], store);
    c = CompareValues(v, n.value[k]);
  }
  switch (n.op) {
    case CompareOp::kEq: return c == 0;
    case CompareOp::kNe: return c != 0;
    case CompareOp::kLt: return c < 0;
    case CompareOp::kGt: return c > 0;
    case CompareOp::kLe: return c <= 0;
    case CompareOp::kGe: return c >= 0;
  }
  return false;
}

}  // namespace

int CompareValues(const Variant& a, const Variant& b) {
  if (a.index() != b.index()) return Sign(static_cast<long long>(a.index()) - static_cast<long long>(b.index()));
  if (auto* s = std::get_if<std::string>(&a)) return CompareText(*s, std::get<std::string>(b));
  if (auto* d = std::get_if<platform::DateTime>(&a)) {
    auto e = std::get<platform::DateTime>(b);
    return *d < e ? -1 : (e < *d ? 1 : 0);
  }
  if (auto* n = std::get_if<std::int32_t>(&a)) return Sign(static_cast<long long>(*n) - std::get<std::int32_t>(b));
  if (auto* f = std::get_if<bool>(&a)) {
    int x = *f ? -1 : 0;
    int y = std::get<bool>(b) ? -1 : 0;
    return Sign(x - y);
  }
  return 0;
}

Filter Filter::Parse(std::string_view text) {
  Filter f;
  f.text_ = std::string(text);
  f.root_ = Parser(text).ParseAll();
  return f;
}

bool Filter::Matches(const ItemRecord& item, const StoreId& store) const {
  return root_ && Evaluate(*root_, item, store);
}

}  // namespace host::detail
