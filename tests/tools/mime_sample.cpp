// Writes a sample message with WriteMime to standard output, for the check
// that an independent MIME parser (Python's email package) reads it back.
#include <cstdio>
#include <string>

#include "host/transport/mime.hpp"

int main() {
  host::MailMessage m;
  m.from = {"Jūratė Šimkutė", "jurate@example.org"};
  m.to = {{"Bob Smith", "bob@example.net"}, {"", "carol@example.com"}};
  m.cc = {{"Dan, the \"Reviewer\"", "dan@example.com"}};
  m.bcc = {{"Eve Hidden", "eve@example.org"}};
  m.subject = "Kontaktų atnaujinimas – ąčęėįšųūž";
  m.importance = 2;
  m.body = "First line\r\nAntra eilutė: ąčę\r\n\r\nLast line";
  m.messageId = "sample.1@example.org";
  m.date = "Mon, 15 Jun 2026 15:04:05 +0200";
  host::Attachment text{"body.pxs", {}, "text/plain"};
  std::string pxs = ":StartOfRec:\r\nName: Jonas\r\n:EndOfRec:\r\n";
  text.data.assign(pxs.begin(), pxs.end());
  host::Attachment binary{"duomenys ąč.bin", {}, "application/octet-stream"};
  for (int i = 0; i < 256; ++i) binary.data.push_back(static_cast<uint8_t>(i));
  for (int i = 255; i >= 0; --i) binary.data.push_back(static_cast<uint8_t>(i));
  m.attachments = {text, binary};
  std::string out = host::WriteMime(m);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
