#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/transport/mail_message.hpp"
#include "host/transport/mime.hpp"
#include "host/transport/post_office.hpp"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

// ---- helpers ---------------------------------------------------------------------

std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> AllByteValues() {
  std::vector<uint8_t> v;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 256; ++i) v.push_back(static_cast<uint8_t>(round == 1 ? 255 - i : i));
  }
  return v;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0) {
        n = 1;
      } else if ((c & 0xF0) == 0xE0) {
        n = 2;
      } else if ((c & 0xF8) == 0xF0) {
        n = 3;
      } else {
        return false;
      }
      if (i + n >= s.size()) return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

void ExpectAllTextValid(const MailMessage& m) {
  std::vector<const std::string*> texts = {&m.from.name, &m.from.address, &m.subject, &m.body, &m.messageId, &m.date};
  for (const auto* list : {&m.to, &m.cc, &m.bcc}) {
    for (const Address& a : *list) {
      texts.push_back(&a.name);
      texts.push_back(&a.address);
    }
  }
  for (const Attachment& a : m.attachments) {
    texts.push_back(&a.name);
    texts.push_back(&a.contentType);
  }
  for (const std::string* t : texts) EXPECT_TRUE(IsValidUtf8(*t)) << *t;
}

MailMessage SampleMessage() {
  MailMessage m;
  m.from = {"Jūratė Šimkutė", "jurate@example.org"};
  m.to = {{"Bob Smith", "bob@example.net"}, {"", "carol@example.com"}};
  m.cc = {{"Dan, the \"Reviewer\"", "dan@example.com"}, {"Élodie", "elodie@example.fr"}};
  m.bcc = {{"Eve Hidden", "eve@example.org"}};
  m.subject = "Kontaktų atnaujinimas – ąčęėįšųūž and a rather long tail so that the header has to be folded";
  m.importance = 2;
  m.body = "First line\r\nAntra eilutė: ąčę ✓\r\n\r\n  indented line\r\nLast line\r\n";
  m.messageId = "20260615.1@example.org";
  m.date = "Mon, 15 Jun 2026 15:04:05 +0200";
  m.attachments = {
      {"body.pxs", Bytes(":StartOfRec:\r\nName: Jonas\r\n:EndOfRec:\r\n"), "text/plain"},
      {"duomenys ąč.bin", AllByteValues(), "application/octet-stream"},
      {"report.pdf", Bytes("%PDF-1.4\n\x00\x01\xff"), "application/pdf"},
      {"empty.dat", {}, "application/octet-stream"},
  };
  return m;
}

// A folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "transport_test.XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// ---- MIME writing and reading ---------------------------------------------------

class MimeRoundTrip : public ::testing::TestWithParam<MimeNewline> {};

TEST_P(MimeRoundTrip, EveryFieldSurvives) {
  MailMessage sent = SampleMessage();
  MailMessage got = ReadMime(WriteMime(sent, GetParam()));

  EXPECT_EQ(got.from, sent.from);
  EXPECT_EQ(got.to, sent.to);
  EXPECT_EQ(got.cc, sent.cc);
  EXPECT_TRUE(got.bcc.empty());
  EXPECT_EQ(got.subject, sent.subject);
  EXPECT_EQ(got.importance, 2);
  EXPECT_EQ(got.body, sent.body);
  EXPECT_EQ(got.messageId, sent.messageId);
  EXPECT_EQ(got.date, sent.date);
  MailMessage expected = sent;
  expected.bcc.clear();
  EXPECT_TRUE(got == expected);
  ASSERT_EQ(got.attachments.size(), sent.attachments.size());
  for (size_t i = 0; i < sent.attachments.size(); ++i) {
    EXPECT_EQ(got.attachments[i].name, sent.attachments[i].name) << i;
    EXPECT_EQ(got.attachments[i].contentType, sent.attachments[i].contentType) << i;
    EXPECT_EQ(got.attachments[i].data, sent.attachments[i].data) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(BothNewlines, MimeRoundTrip, ::testing::Values(MimeNewline::Crlf, MimeNewline::Lf));

TEST(MimeWrite, IsSevenBitWithTheStandardHeaders) {
  std::string text = WriteMime(SampleMessage());
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
  std::string headers = text.substr(0, text.find("\r\n\r\n") + 2);
  EXPECT_THAT(headers, HasSubstr("\r\nMIME-Version: 1.0\r\n"));
  EXPECT_THAT(headers, HasSubstr("Date: Mon, 15 Jun 2026 15:04:05 +0200\r\n"));
  EXPECT_THAT(headers, HasSubstr("Message-Id: <20260615.1@example.org>\r\n"));
  EXPECT_THAT(headers, HasSubstr("X-Priority: 1\r\n"));
  EXPECT_THAT(headers, HasSubstr("Importance: high\r\n"));
  EXPECT_THAT(headers, HasSubstr("Subject: =?UTF-8?"));
  EXPECT_THAT(headers, HasSubstr("Content-Type: multipart/mixed"));
  EXPECT_THAT(text, HasSubstr("Content-Type: text/plain; charset=utf-8"));
  EXPECT_THAT(text, HasSubstr("Content-Disposition: attachment; filename=body.pxs"));
  EXPECT_THAT(text, HasSubstr("filename*=UTF-8''duomenys%20%C4%85%C4%8D.bin"));
  // No bare LF anywhere in the wire form.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  }
}

TEST(MimeWrite, BccIsNeverWritten) {
  MailMessage m = SampleMessage();
  m.to.clear();
  m.cc.clear();
  m.bcc = {{"Hidden One", "hidden1@example.org"}, {"", "hidden2@example.org"}};
  std::string text = WriteMime(m);
  EXPECT_THAT(text, Not(HasSubstr("hidden1@example.org")));
  EXPECT_THAT(text, Not(HasSubstr("hidden2@example.org")));
  EXPECT_THAT(text, Not(HasSubstr("Hidden One")));
  EXPECT_THAT(text, Not(HasSubstr("Bcc:")));
  EXPECT_TRUE(ReadMime(text).bcc.empty());
}

TEST(MimeWrite, SingleTextPartWithoutAttachments) {
  MailMessage m;
  m.from = {"", "a@example.org"};
  m.to = {{"", "b@example.org"}};
  m.subject = "Plain";
  m.body = "one\r\ntwo\r\n";
  std::string text = WriteMime(m);
  EXPECT_THAT(text, HasSubstr("Content-Type: text/plain; charset=utf-8\r\n"));
  EXPECT_THAT(text, Not(HasSubstr("multipart")));
  // ASCII lines travel as lines, not as encoded carriage returns.
  EXPECT_THAT(text, HasSubstr("\r\n\r\none\r\ntwo\r\n"));
  MailMessage got = ReadMime(text);
  EXPECT_EQ(got.body, "one\r\ntwo\r\n");
  EXPECT_TRUE(got.attachments.empty());
}

TEST(MimeWrite, LineBreaksOfEveryKindComeBackAsCrLf) {
  struct Case {
    std::string body, expected;
  };
  const std::string longLine(2500, 'x');
  const Case cases[] = {
      {"a\r\nb", "a\r\nb"},
      {"a\nb", "a\r\nb"},
      {"a\rb", "a\r\nb"},
      {"a\r\n\r\n\r\nb\r\n", "a\r\n\r\n\r\nb\r\n"},
      {"ąčę\r\nšųū", "ąčę\r\nšųū"},
      {"From the start\r\n.\r\nlone dot", "From the start\r\n.\r\nlone dot"},
      {"trailing spaces   \r\ntab\t", "trailing spaces   \r\ntab\t"},
      {longLine + "\r\nend", longLine + "\r\nend"},
      {"", ""},
  };
  for (const Case& c : cases) {
    for (bool withAttachment : {false, true}) {
      MailMessage m;
      m.from = {"", "a@example.org"};
      m.body = c.body;
      if (withAttachment) m.attachments = {{"a.bin", Bytes("x"), ""}};
      for (MimeNewline nl : {MimeNewline::Crlf, MimeNewline::Lf}) {
        std::string text = WriteMime(m, nl);
        EXPECT_EQ(ReadMime(text).body, c.expected) << c.body.substr(0, 40) << (withAttachment ? " (multipart)" : "");
        size_t longest = 0, run = 0;
        for (char ch : text) {
          run = (ch == '\n' || ch == '\r') ? 0 : run + 1;
          longest = std::max(longest, run);
        }
        EXPECT_LE(longest, 998u);
      }
    }
  }
}

TEST(MimeWrite, ImportanceHeaders) {
  struct Case {
    int importance;
    const char* priority;
    const char* word;
    int readBack;
  };
  const Case cases[] = {
      {0, "5", "low", 0}, {1, "3", "normal", 1}, {2, "1", "high", 2}, {7, "3", "normal", 1}, {-1, "3", "normal", 1},
  };
  for (const Case& c : cases) {
    MailMessage m;
    m.from = {"", "a@example.org"};
    m.importance = c.importance;
    std::string text = WriteMime(m);
    EXPECT_THAT(text, HasSubstr(std::string("X-Priority: ") + c.priority + "\r\n")) << c.importance;
    EXPECT_THAT(text, HasSubstr(std::string("Importance: ") + c.word + "\r\n")) << c.importance;
    EXPECT_EQ(ReadMime(text).importance, c.readBack) << c.importance;
  }
}

TEST(MimeWrite, HeaderTextCannotInjectHeaders) {
  MailMessage m;
  m.from = {"Mallory\r\nBcc: victim@example.org", "mallory@example.org\r\nX-Evil: 1"};
  m.to = {{"", "bob@example.org>\r\nBcc: victim2@example.org"}};
  m.subject = "Hello\r\nBcc: victim3@example.org\r\n\r\nbody";
  m.messageId = "id@example.org>\r\nX-Evil: 2";
  m.date = "Mon, 15 Jun 2026 15:04:05 +0200\r\nX-Evil: 3";
  m.attachments = {{"a.txt\r\nX-Evil: 4", Bytes("x"), "text/plain\r\nX-Evil: 5"}};
  std::string text = WriteMime(m);
  EXPECT_THAT(text, Not(HasSubstr("\nBcc:")));
  EXPECT_THAT(text, Not(HasSubstr("\nX-Evil")));
  MailMessage got = ReadMime(text);
  EXPECT_TRUE(got.bcc.empty());
  EXPECT_THAT(got.subject, HasSubstr("Hello"));
  EXPECT_THAT(got.subject, Not(HasSubstr("\n")));
  ASSERT_EQ(got.attachments.size(), 1u);
  EXPECT_EQ(got.attachments[0].data, Bytes("x"));
}

TEST(MimeWrite, MissingIdIsFilledInAndTheDateIsNeverMadeUp) {
  MailMessage m;
  m.from = {"", "someone@Example.org"};
  m.date = "Mon, 15 Jun 2026 15:04:05 +0200";
  MailMessage got = ReadMime(WriteMime(m));
  EXPECT_THAT(got.messageId, testing::EndsWith("@example.org"));
  EXPECT_EQ(ParseMailDate(got.date), 1781528645);
  EXPECT_NE(GenerateMessageId("a@example.org"), GenerateMessageId("a@example.org"));
  EXPECT_THAT(GenerateMessageId("no domain"), testing::EndsWith("@localhost"));
  // The writer has no clock: without a date from the sender there is none
  // (no time taken from the system).
  for (const char* date : {"", "not a date"}) {
    m.date = date;
    std::string text = WriteMime(m);
    EXPECT_THAT(text, Not(HasSubstr("Date:"))) << date;
    EXPECT_EQ(ReadMime(text).date, "") << date;
  }
}

TEST(MimeWrite, AttachmentTypes) {
  struct Case {
    std::string given, written;
  };
  const Case cases[] = {
      {"", "application/octet-stream"},
      {"image/PNG", "image/png"},
      {"text/plain; charset=utf-8", "text/plain"},
      {"message/rfc822", "application/octet-stream"},
      {"multipart/mixed", "application/octet-stream"},
      {"garbage", "application/octet-stream"},
  };
  for (const Case& c : cases) {
    MailMessage m;
    m.from = {"", "a@example.org"};
    m.attachments = {{"f.bin", Bytes("data\r\n"), c.given}};
    MailMessage got = ReadMime(WriteMime(m));
    ASSERT_EQ(got.attachments.size(), 1u) << c.given;
    EXPECT_EQ(got.attachments[0].contentType, c.written) << c.given;
    EXPECT_EQ(got.attachments[0].data, Bytes("data\r\n")) << c.given;
  }
}

TEST(MimeWrite, InvalidUtf8IsRepaired) {
  MailMessage m;
  m.from = {"Bad \xff\xfe name", "a@example.org"};
  m.subject = "bad \xc3 subject";
  m.body = "bad \xe2\x82 body \0 nul"s;
  MailMessage got = ReadMime(WriteMime(m));
  ExpectAllTextValid(got);
  EXPECT_THAT(got.from.name, HasSubstr("Bad"));
  EXPECT_THAT(got.subject, HasSubstr("subject"));
  EXPECT_THAT(got.body, HasSubstr("body"));
}

// ---- reading messages from other mail programs -----------------------------------

TEST(MimeRead, ForeignMessage) {
  const std::string raw =
      "Return-Path: <x@example.org>\n"
      "From: =?ISO-8859-1?Q?Andr=E9?= <Andre@Example.ORG>\n"
      "To: Team: one@example.org, \"Two, Person\" <two@example.org>;, three@example.org\n"
      "Cc: undisclosed-recipients:;\n"
      "Subject: =?iso-8859-1?q?Caf=E9?= and =?utf-8?b?xIXEjQ==?=\n"
      "Date: Tue, 1 Jul 2025 08:00:00 -0400\n"
      "Message-ID: <abc.def@mail.example.org>\n"
      "X-Priority: 2 (High)\n"
      "MIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"outer\"\n"
      "\n"
      "preamble\n"
      "--outer\n"
      "Content-Type: multipart/alternative; boundary=\"inner\"\n"
      "\n"
      "--inner\n"
      "Content-Type: text/html; charset=utf-8\n"
      "\n"
      "<p>html</p>\n"
      "--inner\n"
      "Content-Type: text/plain; charset=iso-8859-1\n"
      "Content-Transfer-Encoding: quoted-printable\n"
      "\n"
      "Caf=E9 line one=\n"
      " continued\n"
      "line two\n"
      "--inner--\n"
      "--outer\n"
      "Content-Type: application/octet-stream; name=\"only-type-name.bin\"\n"
      "Content-Transfer-Encoding: base64\n"
      "\n"
      "AAEC/w==\n"
      "--outer\n"
      "Content-Type: image/png\n"
      "Content-Disposition: inline\n"
      "Content-Transfer-Encoding: base64\n"
      "\n"
      "iVBORw==\n"
      "--outer\n"
      "Content-Type: message/rfc822\n"
      "Content-Disposition: attachment; filename=\"fwd.eml\"\n"
      "\n"
      "From: inner@example.org\n"
      "Subject: inner\n"
      "\n"
      "inner body\n"
      "--outer--\n";
  MailMessage m = ReadMime(raw);
  EXPECT_EQ(m.from, (Address{"André", "Andre@Example.ORG"}));
  EXPECT_EQ(m.to, (std::vector<Address>{
                      {"", "one@example.org"}, {"Two, Person", "two@example.org"}, {"", "three@example.org"}}));
  EXPECT_TRUE(m.cc.empty());
  EXPECT_EQ(m.subject, "Café and ąč");
  EXPECT_EQ(m.date, "Tue, 1 Jul 2025 08:00:00 -0400");
  EXPECT_EQ(m.messageId, "abc.def@mail.example.org");
  EXPECT_EQ(m.importance, 2);
  EXPECT_EQ(m.body, "Café line one continued\r\nline two");
  ASSERT_EQ(m.attachments.size(), 3u);
  EXPECT_EQ(m.attachments[0].name, "only-type-name.bin");
  EXPECT_EQ(m.attachments[0].data, (std::vector<uint8_t>{0, 1, 2, 255}));
  EXPECT_EQ(m.attachments[1].name, "");
  EXPECT_EQ(m.attachments[1].contentType, "image/png");
  EXPECT_EQ(m.attachments[2].name, "fwd.eml");
  EXPECT_EQ(m.attachments[2].contentType, "message/rfc822");
  std::string inner(m.attachments[2].data.begin(), m.attachments[2].data.end());
  EXPECT_THAT(inner, HasSubstr("Subject: inner"));
  EXPECT_THAT(inner, HasSubstr("inner body"));
}

TEST(MimeRead, ImportanceFromOtherHeaders) {
  struct Case {
    const char* header;
    int importance;
  };
  const Case cases[] = {
      {"X-Priority: 1 (Highest)", 2}, {"X-Priority: 2", 2},    {"X-Priority: 3", 1},        {"X-Priority: 4", 0},
      {"X-Priority: 5 (Lowest)", 0},  {"X-Priority: 9", 1},    {"Importance: High", 2},     {"Importance: LOW", 0},
      {"X-MSMail-Priority: High", 2}, {"Priority: urgent", 2}, {"Priority: non-urgent", 0}, {"X-Other: 1", 1},
  };
  for (const Case& c : cases) {
    std::string raw = std::string("From: a@example.org\n") + c.header + "\n\nbody\n";
    EXPECT_EQ(ReadMime(raw).importance, c.importance) << c.header;
  }
}

TEST(MimeRead, UndeclaredEightBitTextBecomesUtf8) {
  MailMessage m = ReadMime("From: a@example.org\nSubject: caf\xe9\n\nna\xefve\n");
  ExpectAllTextValid(m);
  EXPECT_EQ(m.body, "naïve\r\n");
  MailMessage bogus = ReadMime("From: a@example.org\nContent-Type: text/plain; charset=no-such-set\n\ncaf\xe9");
  ExpectAllTextValid(bogus);
  EXPECT_EQ(bogus.body, "café");
}

TEST(MimeRead, BrokenInputNeverCrashes) {
  std::string deep;
  for (int i = 0; i < 5000; ++i)
    deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
  deep += "Content-Type: text/plain\n\nbottom\n";
  std::string deepMessages;
  for (int i = 0; i < 5000; ++i) deepMessages += "Content-Type: message/rfc822\n\n";
  deepMessages += "Subject: bottom\n\nx\n";
  std::string manyParts = "From: a@example.org\nContent-Type: multipart/mixed; boundary=x\n\n";
  for (int i = 0; i < 3000; ++i) manyParts += "--x\nContent-Type: application/octet-stream\n\nAAAA\n";
  struct Case {
    const char* what;
    std::string raw;
    bool throws;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"only blanks", "\n\n\n", true},
      {"no header at all", "just some words\nand more\n", true},
      {"nul bytes", "\0\0\0\0"s, true},
      {"headers only", "From: a@example.org\nSubject: s", false},
      {"unclosed boundary",
       "From: a@example.org\nContent-Type: multipart/mixed; boundary=zz\n\n--zz\nContent-Type: text/plain\n\nhi",
       false},
      {"multipart without boundary", "From: a@example.org\nContent-Type: multipart/mixed\n\n--x\n\nhi\n--x--\n", false},
      {"broken base64", "From: a@example.org\nContent-Transfer-Encoding: base64\n\n!!!@@@===A\n", false},
      {"broken quoted-printable", "From: a@example.org\nContent-Transfer-Encoding: quoted-printable\n\n=ZZ=\n=4",
       false},
      {"broken encoded words",
       "From: =?utf-8?B?!!!?= <a@example.org>\nSubject: =?x-unknown?Q?abc?= =?utf-8?Q?=FF=FE?=\n\nx", false},
      {"broken addresses", "From: <<<@>>>, \"unclosed\nTo: ;;;,,,<>@\nCc: group: a@b; extra\n\nx", false},
      {"raw 8-bit headers", "From: \xff\xfe\xfd <a@example.org>\nSubject: \xc3\x28\xa0\xa1\n\n\xff", false},
      {"nul inside", "From: a@example.org\nSubject: a\0b\n\nbo\0dy"s, false},
      {"huge header line", "From: a@example.org\nSubject: " + std::string(200000, 'S') + "\n\nx", false},
      {"bad parameter encoding",
       "From: a@example.org\nContent-Type: multipart/mixed; boundary=q\n\n--q\nContent-Disposition: attachment; "
       "filename*=utf-8''%ZZ%\nContent-Type: application/x; name*0*=bad'%; name*1=x\n\ndata\n--q--\n",
       false},
      {"truncated header", "From: a@exam", false},
      {"only a boundary line", "--boundary--\n", false},
      {"deeply nested multiparts", "From: a@example.org\n" + deep, false},
      {"deeply nested messages", "From: a@example.org\n" + deepMessages, false},
      {"many parts", manyParts, false},
      {"crlf and lf mixed", "From: a@example.org\r\nSubject: s\n\r\nbody\r\r\n", false},
  };
  for (const Case& c : cases) {
    if (c.throws) {
      EXPECT_THROW(ReadMime(c.raw), MimeError) << c.what;
      continue;
    }
    try {
      MailMessage m = ReadMime(c.raw);
      ExpectAllTextValid(m);
    } catch (const MimeError&) {
      // Rejecting is acceptable; crashing is not.
    }
  }
}

// ---- addresses and dates --------------------------------------------------------

TEST(AddressList, ParsesFieldText) {
  struct Case {
    std::string text;
    std::vector<Address> expected;
  };
  const Case cases[] = {
      {"a@x.org; Bob <b@y.org>;", {{"", "a@x.org"}, {"Bob", "b@y.org"}}},
      {"a@x.org, b@y.org", {{"", "a@x.org"}, {"", "b@y.org"}}},
      {"  a@x.org ;; , ;b@y.org,  ", {{"", "a@x.org"}, {"", "b@y.org"}}},
      {"\"Smith, Bob\" <b@y.org>; c@z.org", {{"Smith, Bob", "b@y.org"}, {"", "c@z.org"}}},
      {"\"Say \\\"hi\\\"; ok\" <q@x.org>", {{"Say \"hi\"; ok", "q@x.org"}}},
      {"Jūratė Šimkutė <j@x.lt>", {{"Jūratė Šimkutė", "j@x.lt"}}},
      {"<bare@x.org>", {{"", "bare@x.org"}}},
      {"b@y.org (Bob Smith)", {{"Bob Smith", "b@y.org"}}},
      {"Bob <b;c@y.org>", {{"Bob", "b;c@y.org"}}},
      {"Unclosed <u@x.org", {{"Unclosed", "u@x.org"}}},
      {"\"unterminated, quote <q@x.org>", {{"", "\"unterminated, quote <q@x.org>"}}},
      {"Just A Name", {{"", "Just A Name"}}},
      {"", {}},
      {" ; , ;", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseAddressList(c.text), c.expected) << c.text;
}

TEST(AddressList, FormatParsesBack) {
  std::vector<Address> list = {
      {"", "a@x.org"}, {"Bob", "b@y.org"}, {"Smith, Bob", "s@y.org"}, {"Say \"hi\"", "q@x.org"}, {"Jūratė", "j@x.lt"}};
  std::string text = FormatAddressList(list);
  EXPECT_EQ(text, "a@x.org; Bob <b@y.org>; \"Smith, Bob\" <s@y.org>; \"Say \\\"hi\\\"\" <q@x.org>; Jūratė <j@x.lt>");
  EXPECT_EQ(ParseAddressList(text), list);
}

TEST(AddressList, EnvelopeRecipientsCombineAndDeduplicate) {
  MailMessage m;
  m.to = {{"A", "a@x.org"}, {"", " "}};
  m.cc = {{"", "B@Y.org"}, {"", "A@X.ORG"}};
  m.bcc = {{"", " c@z.org "}, {"", "b@y.org"}};
  EXPECT_EQ(EnvelopeRecipients(m), (std::vector<std::string>{"a@x.org", "B@Y.org", "c@z.org"}));
}

TEST(MailDate, WrittenInTheSendersZone) {
  struct Case {
    int minutesEast;
    const char* text;
  };
  const Case cases[] = {
      {0, "Mon, 15 Jun 2026 13:04:05 +0000"},
      {120, "Mon, 15 Jun 2026 15:04:05 +0200"},
      {-300, "Mon, 15 Jun 2026 08:04:05 -0500"},
      {330, "Mon, 15 Jun 2026 18:34:05 +0530"},
      {-720, "Mon, 15 Jun 2026 01:04:05 -1200"},
      {840, "Tue, 16 Jun 2026 03:04:05 +1400"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMailDate(1781528645, c.minutesEast), c.text) << c.minutesEast;
    EXPECT_EQ(ParseMailDate(c.text), 1781528645) << c.text;
  }
  EXPECT_EQ(FormatMailDate(1781528645, 24 * 60), "");
  EXPECT_EQ(FormatMailDate(1781528645, -24 * 60), "");
}

TEST(AddressCheck, WhatCountsAsAMailAddress) {
  const char* good[] = {
      "bob@example.org",  " Bob.Smith+tag@Example.ORG ", "a@b.co",          "o'neil@x.ie",
      "user@localhost",   "USER@LocalHost",                "a/b@x.org",       "jūratė@pavyzdys.lt",
      "x@sub-domain.example.org", "1@2.3", "\tbob@example.org\n",
  };
  const char* bad[] = {
      "",           "bob",          "@example.org",       "bob@",          "a@b@example.org",
      "not an address", "bob smith@example.org", "bob@exa mple.org", "bob@nodot", "bob@.example.org",
      "bob@example..org", "bob@example.org.", "bob@-example.org", "bob@example-.org", "bob@ex_ample.org",
      "Bob <bob@example.org>", "bob@example.org;", "a,b@example.org", "bo\"b@example.org", "bob@[1.2.3.4]",
      "bob\t@example.org", "bob@exam\nple.org", "bo\x7f" "b@example.org", "bob(x)@example.org", "a:b@example.org",
  };
  for (const char* a : good) EXPECT_TRUE(IsMailAddress(a)) << a;
  for (const char* a : bad) EXPECT_FALSE(IsMailAddress(a)) << a;

  EXPECT_TRUE(InvalidRecipients("Bob Brown <bob@example.org>; carol@example.org, \"Dan, D\" <dan@x.org>").empty());
  EXPECT_EQ(InvalidRecipients("bob; carol@example.org; Dave Brown; <x y@z.org>"),
            (std::vector<std::string>{"bob", "Dave Brown", "x y@z.org"}));
}

TEST(MailDate, ParseAndFormat) {
  EXPECT_EQ(ParseMailDate("Thu, 1 Jan 1970 00:00:00 +0000"), 0);
  EXPECT_EQ(ParseMailDate("Mon, 15 Jun 2026 15:04:05 +0200"), 1781528645);
  EXPECT_EQ(ParseMailDate(FormatMailDate(1781528645)), 1781528645);
  EXPECT_EQ(FormatMailDate(1781528645), "Mon, 15 Jun 2026 13:04:05 +0000");
  EXPECT_FALSE(ParseMailDate("").has_value());
  EXPECT_FALSE(ParseMailDate("yesterday-ish").has_value());
}

// ---- the post office -------------------------------------------------------------

class PostOffice : public ::testing::Test {
 protected:
  MailMessage Message(const std::string& subject) {
    MailMessage m;
    m.date = "Mon, 15 Jun 2026 15:04:05 +0200";
    m.from = {"Owner", "owner@example.org"};
    m.to = {{"Ann", "ann@example.org"}};
    m.cc = {{"", "cid@example.org"}};
    m.bcc = {{"Hidden", "hid@example.org"}};
    m.subject = subject;
    m.body = "text\r\n";
    m.attachments = {{"body.pxs", AllByteValues(), "application/octet-stream"}};
    return m;
  }

  TempDir dir;
  PostOfficeTransport office{dir.path()};
};

TEST_F(PostOffice, DeliversToEveryEnvelopeRecipientWithoutBcc) {
  MailMessage m = Message("Hello");
  office.Send(m, EnvelopeRecipients(m));
  for (const char* who : {"ann@example.org", "cid@example.org", "hid@example.org"}) {
    std::vector<MailMessage> got = office.TakeAll(who);
    ASSERT_EQ(got.size(), 1u) << who;
    EXPECT_EQ(got[0].subject, "Hello");
    EXPECT_EQ(got[0].to, m.to);
    EXPECT_EQ(got[0].cc, m.cc);
    EXPECT_TRUE(got[0].bcc.empty()) << who;
    ASSERT_EQ(got[0].attachments.size(), 1u);
    EXPECT_EQ(got[0].attachments[0].data, AllByteValues());
  }
  EXPECT_TRUE(office.TakeAll("owner@example.org").empty());
}

TEST_F(PostOffice, UsesStandardMaildirs) {
  MailMessage m = Message("Layout");
  office.Send(m, {"Ann@Example.org"});
  fs::path box = dir.path() / "ann@example.org";
  EXPECT_EQ(office.MailboxPath("ANN@example.org"), box);
  EXPECT_TRUE(FilesIn(box / "tmp").empty());
  EXPECT_TRUE(FilesIn(box / "cur").empty());
  std::vector<std::string> waiting = FilesIn(box / "new");
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_TRUE(std::regex_match(waiting[0], std::regex(R"(\d+\.\d+_\d+\.[^/:]+)"))) << waiting[0];
  std::string text = ReadFile(box / "new" / waiting[0]);
  EXPECT_THAT(text, Not(HasSubstr("\r")));  // Unix line ends on disk
  EXPECT_THAT(text, HasSubstr("Subject: Layout\n"));
  EXPECT_THAT(text, Not(HasSubstr("hid@example.org")));

  ASSERT_EQ(office.TakeAll("ann@example.org").size(), 1u);
  EXPECT_TRUE(FilesIn(box / "new").empty());
  EXPECT_EQ(FilesIn(box / "cur"), std::vector<std::string>{waiting[0] + ":2,S"});
}

TEST_F(PostOffice, EachMessageIsFetchedOnce) {
  PostOfficeTransport other(dir.path());
  for (int i = 0; i < 12; ++i) office.Send(Message("n" + std::to_string(i)), {"ann@example.org"});
  std::vector<MailMessage> got = other.TakeAll("ann@example.org");
  ASSERT_EQ(got.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(got[static_cast<size_t>(i)].subject, "n" + std::to_string(i));  // oldest first
  EXPECT_TRUE(other.TakeAll("ann@example.org").empty());
  EXPECT_TRUE(office.TakeAll("ann@example.org").empty());

  office.Send(Message("later"), {"ann@example.org"});
  got = office.TakeAll("ann@example.org");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].subject, "later");
  EXPECT_TRUE(other.TakeAll("ann@example.org").empty());
}

TEST_F(PostOffice, TwoFetchersRacingNeverShareAMessage) {
  constexpr int kCount = 60;
  for (int i = 0; i < kCount; ++i) office.Send(Message(std::to_string(i)), {"ann@example.org"});
  std::vector<MailMessage> a, b;
  std::atomic<bool> go{false};
  auto fetchAll = [&](std::vector<MailMessage>& into) {
    PostOfficeTransport mine(dir.path());
    while (!go) std::this_thread::yield();
    for (int round = 0; round < 3; ++round) {
      for (MailMessage& m : mine.TakeAll("ann@example.org")) into.push_back(std::move(m));
    }
  };
  std::thread ta(fetchAll, std::ref(a)), tb(fetchAll, std::ref(b));
  go = true;
  ta.join();
  tb.join();
  std::multiset<std::string> subjects;
  for (const auto* list : {&a, &b}) {
    for (const MailMessage& m : *list) subjects.insert(m.subject);
  }
  EXPECT_EQ(subjects.size(), static_cast<size_t>(kCount));
  EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()).size(), static_cast<size_t>(kCount));
}

TEST_F(PostOffice, MailForAnAddressWithoutProfileWaits) {
  EXPECT_TRUE(office.TakeAll("newcomer@example.org").empty());
  EXPECT_FALSE(fs::exists(office.MailboxPath("newcomer@example.org")));  // fetching creates nothing
  office.Send(Message("Welcome"), {"Newcomer@Example.org"});
  office.Send(Message("Second"), {"newcomer@example.org"});
  EXPECT_THAT(office.ListMailboxes(), testing::Contains("newcomer@example.org"));

  PostOfficeTransport later(dir.path());  // the profile is created afterwards
  std::vector<MailMessage> got = later.TakeAll("NEWCOMER@example.org");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].subject, "Welcome");
  EXPECT_EQ(got[1].subject, "Second");
}

TEST_F(PostOffice, DuplicateRecipientsGetOneCopy) {
  office.Send(Message("Once"), {"ann@example.org", " ANN@example.org ", "", "ann@EXAMPLE.org"});
  EXPECT_EQ(office.TakeAll("ann@example.org").size(), 1u);
}

TEST_F(PostOffice, BrokenFilesComeAsUnreadableWithTheirText) {
  office.Send(Message("good one"), {"ann@example.org"});
  fs::path box = office.MailboxPath("ann@example.org");
  WriteFile(box / "new" / "1.broken_1.host", "");
  WriteFile(box / "new" / "2.broken_2.host", "no headers here\n");
  WriteFile(box / "new" / ".hidden", "From: x@example.org\n\nignored\n");
  fs::create_directory(box / "new" / "3.subfolder_3.host");
  office.Send(Message("good two"), {"ann@example.org"});

  std::set<std::string> subjects, unreadable;
  {
    auto fetched = office.Fetch("ann@example.org");
    ASSERT_EQ(fetched->Keys().size(), 4u);
    EXPECT_TRUE(fetched->Problems().empty());
    for (const std::string& key : fetched->Keys()) {
      ArrivedMessage m = fetched->Read(key);
      EXPECT_EQ(m.key, key);
      if (m.unreadable.empty()) {
        subjects.insert(m.message.subject);
      } else {
        unreadable.insert(key);
        EXPECT_EQ(m.location, (box / "cur" / (key + ":2,")).string());
        EXPECT_EQ(m.rawText, key == "1.broken_1.host" ? "" : "no headers here\n");
      }
      fetched->Acknowledge(key);
    }
  }
  EXPECT_EQ(subjects, (std::set<std::string>{"good one", "good two"}));
  EXPECT_EQ(unreadable, (std::set<std::string>{"1.broken_1.host", "2.broken_2.host"}));
  std::vector<std::string> cur = FilesIn(box / "cur");
  EXPECT_THAT(cur, testing::Contains("1.broken_1.host:2,S"));
  EXPECT_THAT(cur, testing::Contains("2.broken_2.host:2,S"));
  // Hidden files and folders are no messages and stay where they are.
  EXPECT_EQ(FilesIn(box / "new"), (std::vector<std::string>{".hidden", "3.subfolder_3.host"}));
  EXPECT_TRUE(office.Fetch("ann@example.org")->Keys().empty());
}

TEST_F(PostOffice, ClaimedMessagesStayUntilAcknowledged) {
  for (const char* subject : {"one", "two", "three"}) office.Send(Message(subject), {"ann@example.org"});
  fs::path box = office.MailboxPath("ann@example.org");
  std::vector<std::string> names = FilesIn(box / "new");
  ASSERT_EQ(names.size(), 3u);

  std::vector<std::string> keys;
  {
    auto fetched = office.Fetch("ann@example.org");
    keys = fetched->Keys();
    // The keys are the unique names; the claim is a rename into cur/ with no flags.
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()), std::set<std::string>(names.begin(), names.end()));
    EXPECT_TRUE(FilesIn(box / "new").empty());
    EXPECT_EQ(FilesIn(box / "cur"), (std::vector<std::string>{names[0] + ":2,", names[1] + ":2,", names[2] + ":2,"}));
    EXPECT_EQ(fetched->Read(keys[0]).message.subject, "one");  // oldest first
    EXPECT_EQ(fetched->Read(keys[2]).message.subject, "three");
    fetched->Acknowledge(keys[0]);
    fetched->Acknowledge(keys[0]);  // twice is harmless
    EXPECT_THAT(FilesIn(box / "cur"), testing::Contains(keys[0] + ":2,S"));
    EXPECT_THROW(fetched->Read("no-such-key"), TransportError);
  }
  // The fetch ended without acknowledging two: the next one returns them
  // under the same keys, before anything newer.
  office.Send(Message("four"), {"ann@example.org"});
  PostOfficeTransport other(dir.path());
  auto again = other.Fetch("ann@example.org");
  ASSERT_EQ(again->Keys().size(), 3u);
  EXPECT_EQ(again->Keys()[0], keys[1]);
  EXPECT_EQ(again->Keys()[1], keys[2]);
  EXPECT_EQ(again->Read(again->Keys()[2]).message.subject, "four");
  for (const std::string& key : again->Keys()) again->Acknowledge(key);
  for (const std::string& name : FilesIn(box / "cur")) EXPECT_THAT(name, testing::EndsWith(":2,S"));
}

TEST_F(PostOffice, OneFetcherAtATimePerMailbox) {
  office.Send(Message("one"), {"ann@example.org"});
  office.Send(Message("two"), {"bob@example.org"});
  PostOfficeTransport other(dir.path());
  other.SetLockWait(std::chrono::milliseconds(0));
  fs::path lockFile = office.MailboxPath("ann@example.org") / PostOfficeTransport::kLockFile;
  {
    auto held = office.Fetch("ann@example.org");
    ASSERT_EQ(held->Keys().size(), 1u);
    try {
      other.Fetch("ann@example.org");
      FAIL() << "a second fetcher got in";
    } catch (const TransportError& e) {
      EXPECT_THAT(e.what(), HasSubstr("being read by another program"));
    }
    // Another process sees the lock too.
    int fd = open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
    // Other mailboxes are not held up.
    EXPECT_EQ(other.TakeAll("bob@example.org").size(), 1u);
  }
  auto next = other.Fetch("ann@example.org");
  ASSERT_EQ(next->Keys().size(), 1u);  // never acknowledged: still there
  EXPECT_EQ(next->Read(next->Keys()[0]).message.subject, "one");
}

TEST_F(PostOffice, ForeignNamesWithInfoAreClaimedToo) {
  fs::path box = office.MailboxPath("ann@example.org");
  office.Send(Message("first"), {"ann@example.org"});
  WriteFile(box / "new" / "99.other:2,", "From: x@example.org\nSubject: foreign\n\nhi\n");
  WriteFile(box / "cur" / "99.taken:2,S", "From: x@example.org\nSubject: old\n\nhi\n");
  WriteFile(box / "new" / "99.taken", "From: x@example.org\nSubject: same name\n\nhi\n");
  std::vector<MailMessage> got = office.TakeAll("ann@example.org");
  std::set<std::string> subjects;
  for (const MailMessage& m : got) subjects.insert(m.subject);
  EXPECT_EQ(subjects, (std::set<std::string>{"first", "foreign", "same name"}));
  EXPECT_TRUE(FilesIn(box / "new").empty());
  EXPECT_EQ(FilesIn(box / "cur").size(), 4u);  // nothing was overwritten
}

TEST_F(PostOffice, MailboxNamesAreSafeSinglePathComponents) {
  struct Case {
    std::string address, name;
  };
  const Case cases[] = {
      {"Bob.Smith+tag@Example.ORG", "bob.smith+tag@example.org"},
      {"../../etc/passwd", "%2E.%2F..%2Fetc%2Fpasswd"},
      {"..", "%2E."},
      {".hidden@x.org", "%2Ehidden@x.org"},
      {"a/b\\c@x.org", "a%2Fb%5Cc@x.org"},
      {"we ird:name%@x.org", "we%20ird%3Aname%25@x.org"},
      {"jūratė@x.lt", "j%C5%ABrat%C4%97@x.lt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PostOfficeTransport::MailboxName(c.address), c.name) << c.address;
    EXPECT_EQ(office.MailboxPath(c.address).parent_path(), dir.path()) << c.address;
  }
  EXPECT_THROW(PostOfficeTransport::MailboxName("  "), std::invalid_argument);
  std::string longA(300, 'a'), longB = longA + "b";
  std::string nameA = PostOfficeTransport::MailboxName(longA), nameB = PostOfficeTransport::MailboxName(longB);
  EXPECT_LE(nameA.size(), 200u);
  EXPECT_NE(nameA, nameB);

  office.Send(Message("odd"), {"../../escape@x.org", "a/b@x.org"});
  EXPECT_EQ(office.ListMailboxes(), (std::vector<std::string>{"../../escape@x.org", "a/b@x.org"}));
  EXPECT_EQ(office.TakeAll("../../escape@x.org").size(), 1u);
  EXPECT_EQ(office.TakeAll("a/b@x.org").size(), 1u);
  EXPECT_FALSE(fs::exists(dir.path().parent_path().parent_path() / "escape@x.org"));
}

// A message whose text was cut short is refused whole: it is not claimed,
// stays where it is with its bytes, and is reported by the first fetch that
// finds it only. Sound messages around it are received as usual.
TEST_F(PostOffice, MessagesCutShortStayWhereTheyAreAndAreReportedOnce) {
  const std::string whole = WriteMime(Message("whole"), MimeNewline::Lf);
  const std::size_t closing = whole.rfind("\n--");
  const std::size_t data = whole.find("\n\n", whole.find("Content-Transfer-Encoding: base64")) + 2;
  ASSERT_NE(closing, std::string::npos);
  ASSERT_LT(data, closing);
  const std::string head = "From: x@example.org\nSubject: single\nMIME-Version: 1.0\n"
                           "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n";
  const struct {
    const char* name;
    std::string text;
    bool refused;
  } cases[] = {
      {"whole-multipart", whole, false},
      {"closing-line-without-newline", whole.substr(0, whole.size() - 1), false},
      {"single-part-base64-whole", head + "QUJD\r\nREVG \r\nRw==\r\n", false},
      {"headers-only", "From: x@example.org\nSubject: only headers\n", false},
      {"without-closing-boundary", whole.substr(0, closing + 1), true},
      {"cut-inside-base64", whole.substr(0, data + 10), true},
      {"closed-but-base64-lost-a-byte", whole.substr(0, data + 5) + whole.substr(data + 6), true},
      {"single-part-base64-cut", head + "QUJDREVG\nQUJ", true},
      {"single-part-padding-in-the-middle", head + "QQ==\nQUJD\n", true},
  };
  fs::path box = office.MailboxPath("ann@example.org");
  office.Send(Message("sent"), {"ann@example.org"});  // makes the Maildir
  std::set<std::string> sound{FilesIn(box / "new").at(0)}, refused;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = std::to_string(i) + "." + cases[i].name + "_" + std::to_string(i) + ".host";
    WriteFile(box / "new" / name, cases[i].text);
    (cases[i].refused ? refused : sound).insert(name);
  }
  // A cut message claimed by a fetch that did not finish stays in cur/.
  const std::string claimedCut = "90.claimed_90.host:2,";
  WriteFile(box / "cur" / claimedCut, whole.substr(0, closing + 1));

  auto problemsNaming = [](const std::vector<std::string>& problems, const fs::path& file) {
    return std::count_if(problems.begin(), problems.end(),
                         [&](const std::string& p) { return p.find(file.string() + " was cut short") != p.npos; });
  };
  {
    auto fetched = office.Fetch("ann@example.org");
    EXPECT_EQ(std::set<std::string>(fetched->Keys().begin(), fetched->Keys().end()), sound);
    EXPECT_EQ(fetched->Problems().size(), refused.size() + 1) << ::testing::PrintToString(fetched->Problems());
    for (const std::string& name : refused) EXPECT_EQ(problemsNaming(fetched->Problems(), box / "new" / name), 1) << name;
    EXPECT_EQ(problemsNaming(fetched->Problems(), box / "cur" / claimedCut), 1);
    for (const std::string& p : fetched->Problems()) EXPECT_EQ(p.find('\n'), std::string::npos) << p;
    for (const std::string& key : fetched->Keys()) {
      EXPECT_EQ(fetched->Read(key).unreadable, "") << key;
      fetched->Acknowledge(key);
    }
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (!cases[i].refused) continue;
    const std::string name = std::to_string(i) + "." + cases[i].name + "_" + std::to_string(i) + ".host";
    EXPECT_EQ(ReadFile(box / "new" / name), cases[i].text) << name << " was changed or taken";
  }
  EXPECT_THAT(FilesIn(box / "cur"), testing::Contains(claimedCut));

  // The next fetches find them again but say nothing more.
  PostOfficeTransport other(dir.path());
  {
    auto again = other.Fetch("ann@example.org");
    EXPECT_TRUE(again->Keys().empty());
    EXPECT_TRUE(again->Problems().empty()) << ::testing::PrintToString(again->Problems());
  }
  // A message written out in full since is received like any other.
  const std::string mended = *refused.begin();
  WriteFile(box / "new" / mended, whole);
  auto last = other.Fetch("ann@example.org");
  EXPECT_EQ(last->Keys(), std::vector<std::string>{mended});
  EXPECT_TRUE(last->Problems().empty()) << ::testing::PrintToString(last->Problems());
  EXPECT_EQ(last->Read(mended).message.subject, "whole");
}

// A mailbox folder that is there as something other than a folder is an
// error naming it, never a mailbox without mail.
TEST_F(PostOffice, AMailboxFolderThatIsNotAFolderIsAnErrorNamingIt) {
  for (const char* part : {"", "new", "cur", "tmp"}) {
    SCOPED_TRACE(std::string("part: ") + part);
    const std::string address = std::string(*part ? part : "box") + "@example.org";
    const fs::path box = office.MailboxPath(address);
    const fs::path file = *part ? box / part : box;
    if (*part) {
      for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(box / sub);
      fs::remove(file);
    }
    WriteFile(file, "not a folder");
    try {
      office.Fetch(address);
      ADD_FAILURE() << "fetched from a mailbox with a file for " << file;
    } catch (const TransportError& e) {
      EXPECT_EQ(std::string(e.what()), "The mailbox folder " + file.string() + " is not a folder.");
    }
    EXPECT_EQ(ReadFile(file), "not a folder");
  }
}

TEST_F(PostOffice, SendErrors) {
  EXPECT_THROW(office.Send(Message("x"), {}), TransportError);
  EXPECT_THROW(office.Send(Message("x"), {" ", ""}), TransportError);
  EXPECT_TRUE(office.Fetch("")->Keys().empty());

  // A recipient that is not an address stops the whole message.
  for (const std::string bad : {"bob", "not an address", "a@b@example.org", "x@nodot"}) {
    try {
      office.Send(Message("x"), {"ann@example.org", bad});
      FAIL() << "expected TransportError for " << bad;
    } catch (const TransportError& e) {
      EXPECT_THAT(e.what(), HasSubstr("not an e-mail address: \"" + bad + "\""));
      EXPECT_TRUE(e.Delivered().empty());
    }
  }
  EXPECT_TRUE(office.ListMailboxes().empty());

  // A delivery that fails for some names them and those that got it.
  WriteFile(dir.path() / "full@example.org", "a file where the mailbox should be");
  try {
    office.Send(Message("part"), {"ann@example.org", "full@example.org"});
    FAIL() << "expected TransportError";
  } catch (const TransportError& e) {
    EXPECT_THAT(e.what(), HasSubstr("full@example.org"));
    EXPECT_EQ(e.Delivered(), std::vector<std::string>{"ann@example.org"});
  }
  EXPECT_EQ(office.TakeAll("ann@example.org").size(), 1u);
  fs::remove(dir.path() / "full@example.org");

  // A root that is a file cannot hold mailboxes.
  WriteFile(dir.path() / "file", "x");
  PostOfficeTransport broken(dir.path() / "file");
  try {
    broken.Send(Message("x"), {"ann@example.org", "bob@example.org"});
    FAIL() << "expected TransportError";
  } catch (const TransportError& e) {
    EXPECT_THAT(e.what(), HasSubstr("ann@example.org"));
    EXPECT_THAT(e.what(), HasSubstr("bob@example.org"));
  }
  EXPECT_TRUE(broken.TakeAll("ann@example.org").empty());
  EXPECT_TRUE(broken.ListMailboxes().empty());
}

}  // namespace
}  // namespace host
