#include "host/ui/view.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.hpp"

namespace host {

void View::Apply() {
  ++applyCount_;
  if (onApply_) {
    auto callback = onApply_;  // the callback may replace itself
    callback(*this);
  }
}

ViewFilter View::Filter() const { return ParseViewFilter(xml_); }

std::string DefaultContactsViewXml() {
  static const char* const kLines[] = {
      R"(<?xml version="1.0"?>)",
      R"(<view type="card">)",
      R"(    <viewname>Address Cards</viewname>)",
      R"(    <viewstyle>font-family:Tahoma;font-style:normal;font-weight:normal;font-size:8pt;color:Black;font-charset:0</viewstyle>)",
      R"(    <viewtime>0</viewtime>)",
      R"(    <cardtype>address</cardtype>)",
      R"(    <cardwidth>190</cardwidth>)",
      R"(    <cardheadingstyle>font-family:Tahoma;font-weight:bold;font-size:8pt</cardheadingstyle>)",
      R"(    <showemptyfields>0</showemptyfields>)",
      R"(    <multilinefieldheight>1</multilinefieldheight>)",
      R"(    <column>)",
      R"(        <name>HREF</name>)",
      R"(        <prop>DAV:href</prop>)",
      R"(        <checkbox>1</checkbox>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>File As</heading>)",
      R"(        <prop>urn:schemas:contacts:fileas</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>190</width>)",
      R"(        <cardheading>1</cardheading>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Full Name</heading>)",
      R"(        <prop>urn:schemas:contacts:cn</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>120</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Company</heading>)",
      R"(        <prop>urn:schemas:contacts:o</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>120</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Business Address</heading>)",
      R"(        <prop>urn:schemas:contacts:workaddress</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>160</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Business Phone</heading>)",
      R"(        <prop>urn:schemas:contacts:officetelephonenumber</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>100</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Home Phone</heading>)",
      R"(        <prop>urn:schemas:contacts:homePhone</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>100</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>Mobile Phone</heading>)",
      R"(        <prop>urn:schemas:contacts:mobile</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>100</width>)",
      R"(    </column>)",
      R"(    <column>)",
      R"(        <heading>E-mail</heading>)",
      R"(        <prop>urn:schemas:contacts:email1</prop>)",
      R"(        <type>string</type>)",
      R"(        <width>160</width>)",
      R"(    </column>)",
      R"(    <orderby>)",
      R"(        <order>)",
      R"(            <heading>File As</heading>)",
      R"(            <prop>urn:schemas:contacts:fileas</prop>)",
      R"(            <type>string</type>)",
      R"(            <sort>asc</sort>)",
      R"(        </order>)",
      R"(    </orderby>)",
      R"(    <previewpane>)",
      R"(        <visible>0</visible>)",
      R"(    </previewpane>)",
      R"(</view>)",
  };
  std::string xml;
  for (const char* line : kLines) {
    xml += line;
    xml += "\r\n";
  }
  return xml;
}

// ------------------------------------------------------------------ filter

namespace {

// Deepest nesting of parentheses and NOTs read; deeper input is refused
// rather than risking the stack.
constexpr int kMaxDepth = 200;

enum class Tri { False, True, Unknown };

}  // namespace

struct ViewFilter::Node {
  enum class Kind { And, Or, Not, Compare, Unknown } kind = Kind::Unknown;
  enum class Property { Read, IsFolder, IsHidden };
  std::vector<std::unique_ptr<Node>> children;  // And, Or: two or more; Not: one
  Property property = Property::Read;
  bool value = false;    // Compare: the value compared with
  bool equal = true;     // Compare: = (true) or <> (false)
};

namespace {

using Node = ViewFilter::Node;
using Property = Node::Property;

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The code point of a numeric reference body ("#34", "#x22"); nullopt when
// it is not one or names no valid character.
std::optional<std::uint32_t> NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  std::string_view digits = body.substr(1);
  int base = 10;
  if (digits[0] == 'x' || digits[0] == 'X') {
    base = 16;
    digits = digits.substr(1);
  }
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t cp = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    cp = cp * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
  }
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  return cp;
}

// Decodes character entities; an unknown or unfinished one stays as written.
std::string DecodeEntities(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '&') {
      const std::size_t semi = s.find(';', i + 1);
      if (semi != std::string_view::npos && semi - i <= 12) {
        const std::string_view body = s.substr(i + 1, semi - i - 1);
        const char* named = nullptr;
        if (body == "quot") named = "\"";
        else if (body == "apos") named = "'";
        else if (body == "amp") named = "&";
        else if (body == "lt") named = "<";
        else if (body == "gt") named = ">";
        if (named != nullptr) {
          out += named;
          i = semi + 1;
          continue;
        }
        if (auto cp = NumericReference(body)) {
          AppendUtf8(out, *cp);
          i = semi + 1;
          continue;
        }
      }
    }
    out.push_back(s[i]);
    ++i;
  }
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

struct Token {
  enum class Kind { LParen, RParen, Quoted, String, Op, Comma, Word } kind;
  std::string text;
};

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const auto isDelimiter = [](char c) {
    return IsSpace(c) || c == '(' || c == ')' || c == '"' || c == '\'' || c == '=' || c == '<' || c == '>' ||
           c == '!' || c == ',';
  };
  while (i < s.size()) {
    const char c = s[i];
    if (IsSpace(c)) {
      ++i;
    } else if (c == '(') {
      tokens.push_back({Token::Kind::LParen, "("});
      ++i;
    } else if (c == ')') {
      tokens.push_back({Token::Kind::RParen, ")"});
      ++i;
    } else if (c == ',') {
      tokens.push_back({Token::Kind::Comma, ","});
      ++i;
    } else if (c == '"') {
      const std::size_t end = s.find('"', i + 1);
      if (end == std::string_view::npos) throw ParseError("unterminated property name");
      tokens.push_back({Token::Kind::Quoted, std::string(s.substr(i + 1, end - i - 1))});
      i = end + 1;
    } else if (c == '\'') {
      // A string literal; a doubled quote stands for one quote.
      std::string text;
      std::size_t j = i + 1;
      while (true) {
        if (j >= s.size()) throw ParseError("unterminated string");
        if (s[j] == '\'') {
          if (j + 1 < s.size() && s[j + 1] == '\'') {
            text.push_back('\'');
            j += 2;
            continue;
          }
          break;
        }
        text.push_back(s[j++]);
      }
      tokens.push_back({Token::Kind::String, std::move(text)});
      i = j + 1;
    } else if (c == '=' || c == '<' || c == '>' || c == '!') {
      std::string op(1, c);
      if (i + 1 < s.size() && (s[i + 1] == '=' || (c == '<' && s[i + 1] == '>'))) op.push_back(s[i + 1]);
      tokens.push_back({Token::Kind::Op, op});
      i += op.size();
    } else {
      std::size_t j = i;
      while (j < s.size() && !isDelimiter(s[j])) ++j;
      tokens.push_back({Token::Kind::Word, std::string(s.substr(i, j - i))});
      i = j;
    }
  }
  return tokens;
}

std::optional<Property> KnownProperty(std::string_view name) {
  if (platform::EqualsIgnoreCase(name, "urn:schemas:httpmail:read")) return Property::Read;
  if (platform::EqualsIgnoreCase(name, "DAV:isfolder")) return Property::IsFolder;
  if (platform::EqualsIgnoreCase(name, "DAV:ishidden")) return Property::IsHidden;
  return std::nullopt;
}

std::optional<bool> BooleanLiteral(const Token& t) {
  if (t.kind != Token::Kind::Word && t.kind != Token::Kind::String) return std::nullopt;
  if (t.text == "0" || platform::EqualsIgnoreCase(t.text, "false")) return false;
  if (t.text == "1" || platform::EqualsIgnoreCase(t.text, "true")) return true;
  return std::nullopt;
}

// Recursive-descent reader: or := and {OR and}; and := unary {AND unary};
// unary := NOT unary | "(" or ")" | condition.
class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::unique_ptr<Node> ParseAll() {
    auto root = ParseOr(0);
    if (pos_ != tokens_.size()) throw ParseError("unexpected text after the condition");
    return root;
  }

 private:
  bool AtKeyword(std::string_view word) const {
    return pos_ < tokens_.size() && tokens_[pos_].kind == Token::Kind::Word &&
           platform::EqualsIgnoreCase(tokens_[pos_].text, word);
  }

  std::unique_ptr<Node> Join(Node::Kind kind, std::unique_ptr<Node> left, std::unique_ptr<Node> right) {
    if (left->kind == kind) {
      left->children.push_back(std::move(right));
      return left;
    }
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    return node;
  }

  std::unique_ptr<Node> ParseOr(int depth) {
    auto left = ParseAnd(depth);
    while (AtKeyword("OR")) {
      ++pos_;
      left = Join(Node::Kind::Or, std::move(left), ParseAnd(depth));
    }
    return left;
  }

  std::unique_ptr<Node> ParseAnd(int depth) {
    auto left = ParseUnary(depth);
    while (AtKeyword("AND")) {
      ++pos_;
      left = Join(Node::Kind::And, std::move(left), ParseUnary(depth));
    }
    return left;
  }

  std::unique_ptr<Node> ParseUnary(int depth) {
    if (depth > kMaxDepth) throw ParseError("condition nested too deeply");
    if (pos_ >= tokens_.size()) throw ParseError("condition missing");
    if (AtKeyword("NOT")) {
      ++pos_;
      auto node = std::make_unique<Node>();
      node->kind = Node::Kind::Not;
      node->children.push_back(ParseUnary(depth + 1));
      return node;
    }
    if (tokens_[pos_].kind == Token::Kind::LParen) {
      ++pos_;
      auto inner = ParseOr(depth + 1);
      if (pos_ >= tokens_.size() || tokens_[pos_].kind != Token::Kind::RParen) throw ParseError("missing )");
      ++pos_;
      return inner;
    }
    return ParseCondition();
  }

  // One comparison: the tokens up to the next AND or OR outside parentheses,
  // a closing parenthesis of the enclosing group, or the end.
  std::unique_ptr<Node> ParseCondition() {
    const std::size_t start = pos_;
    int nesting = 0;
    while (pos_ < tokens_.size()) {
      const Token& t = tokens_[pos_];
      if (nesting == 0 && (AtKeyword("AND") || AtKeyword("OR") || t.kind == Token::Kind::RParen)) break;
      if (t.kind == Token::Kind::LParen) ++nesting;
      if (t.kind == Token::Kind::RParen) --nesting;
      ++pos_;
    }
    if (nesting != 0) throw ParseError("missing )");
    if (pos_ == start) throw ParseError("condition missing");

    auto node = std::make_unique<Node>();
    node->kind = Node::Kind::Unknown;
    if (pos_ - start == 3) {
      const Token* prop = &tokens_[start];
      const Token& op = tokens_[start + 1];
      const Token* value = &tokens_[start + 2];
      if (prop->kind != Token::Kind::Quoted) std::swap(prop, value);
      const auto property = prop->kind == Token::Kind::Quoted ? KnownProperty(prop->text) : std::nullopt;
      const auto literal = BooleanLiteral(*value);
      const bool equality = op.kind == Token::Kind::Op && (op.text == "=" || op.text == "<>" || op.text == "!=");
      if (property && literal && equality) {
        node->kind = Node::Kind::Compare;
        node->property = *property;
        node->value = *literal;
        node->equal = op.text == "=";
      }
    }
    return node;
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

Tri Evaluate(const Node& node, const ViewItemState& item) {
  switch (node.kind) {
    case Node::Kind::Compare: {
      bool actual = false;
      switch (node.property) {
        case Property::Read: actual = item.read; break;
        case Property::IsFolder: actual = item.isFolder; break;
        case Property::IsHidden: actual = item.isHidden; break;
      }
      return (actual == node.value) == node.equal ? Tri::True : Tri::False;
    }
    case Node::Kind::Not: {
      const Tri inner = Evaluate(*node.children.front(), item);
      if (inner == Tri::Unknown) return Tri::Unknown;
      return inner == Tri::True ? Tri::False : Tri::True;
    }
    case Node::Kind::And: {
      Tri result = Tri::True;
      for (const auto& child : node.children) {
        const Tri t = Evaluate(*child, item);
        if (t == Tri::False) return Tri::False;
        if (t == Tri::Unknown) result = Tri::Unknown;
      }
      return result;
    }
    case Node::Kind::Or: {
      Tri result = Tri::False;
      for (const auto& child : node.children) {
        const Tri t = Evaluate(*child, item);
        if (t == Tri::True) return Tri::True;
        if (t == Tri::Unknown) result = Tri::Unknown;
      }
      return result;
    }
    case Node::Kind::Unknown:
      break;
  }
  return Tri::Unknown;
}

}  // namespace

bool ViewFilter::Matches(const ViewItemState& item) const {
  if (!root_) return true;
  // A condition that cannot be judged counts as met.
  return Evaluate(*root_, item) != Tri::False;
}

ViewFilter ParseViewFilter(const std::string& xml) {
  ViewFilter filter;
  static constexpr std::string_view kOpen = "<filter>";
  static constexpr std::string_view kClose = "</filter>";
  const std::size_t open = xml.find(kOpen);
  if (open == std::string::npos) return filter;
  const std::size_t contentStart = open + kOpen.size();
  const std::size_t close = xml.find(kClose, contentStart);
  if (close == std::string::npos) {
    filter.malformed_ = true;
    return filter;
  }

  std::string_view content = TrimSpace(std::string_view(xml).substr(contentStart, close - contentStart));
  static constexpr std::string_view kCdataOpen = "<![CDATA[";
  static constexpr std::string_view kCdataClose = "]]>";
  if (content.starts_with(kCdataOpen) && content.ends_with(kCdataClose) &&
      content.size() >= kCdataOpen.size() + kCdataClose.size()) {
    filter.condition_ = std::string(
        TrimSpace(content.substr(kCdataOpen.size(), content.size() - kCdataOpen.size() - kCdataClose.size())));
  } else {
    filter.condition_ = std::string(TrimSpace(DecodeEntities(content)));
  }
  if (filter.condition_.empty()) return filter;

  try {
    Parser parser(Tokenize(filter.condition_));
    filter.root_ = std::shared_ptr<const ViewFilter::Node>(parser.ParseAll());
  } catch (const ParseError&) {
    filter.root_.reset();
    filter.malformed_ = true;
  }
  return filter;
}

}  // namespace host
