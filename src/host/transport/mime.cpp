#include "host/transport/mime.hpp"
#include "platform/memory.hpp"

#include <gmime/gmime.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace host {
namespace {

// ---- GLib / GMime ownership -------------------------------------------------

struct GObjectUnref {
  void operator()(void* p) const {
    if (p != nullptr) g_object_unref(p);
  }
};
template <class T>
using GRef = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<char, GFree>;

struct DateTimeUnref {
  void operator()(GDateTime* p) const {
    if (p != nullptr) g_date_time_unref(p);
  }
};
using GDate = std::unique_ptr<GDateTime, DateTimeUnref>;

struct FormatOptionsFree {
  void operator()(GMimeFormatOptions* p) const {
    if (p != nullptr) g_mime_format_options_free(p);
  }
};

struct ErrorFree {
  void operator()(GError* e) const {
    if (e != nullptr) g_error_free(e);
  }
};

void EnsureInit() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Nesting below this depth is not looked into when collecting the parts.
constexpr int kMaxPartDepth = 64;

// ---- text helpers --------------------------------------------------------------

std::string ValidUtf8(std::string_view s) {
  if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return std::string(s);
  // Invalid bytes (NUL included) become U+FFFD.
  GString_ fixed(g_utf8_make_valid(s.data(), static_cast<gssize>(s.size())));
  return fixed ? std::string(fixed.get()) : std::string();
}

std::string TrimSpaces(std::string s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// Header text: valid UTF-8 without control characters, so that it can never
// end the header or start another one.
std::string CleanHeaderText(std::string_view s) {
  std::string out = ValidUtf8(s);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return TrimSpaces(std::move(out));
}

std::string CleanAddress(std::string_view s) {
  std::string out;
  for (char c : CleanHeaderText(s)) {
    if (c != '<' && c != '>' && c != ' ') out += c;
  }
  return out;
}

std::string FromCString(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

// Line breaks (CR LF, LF, lone CR) to `nl`.
std::string NormalizeNewlines(std::string_view s, std::string_view nl) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r') {
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      out += nl;
    } else if (c == '\n') {
      out += nl;
    } else {
      out += c;
    }
  }
  return out;
}

bool EqualsNoCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && g_ascii_strcasecmp(a, b) == 0;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(g_ascii_tolower(c));
  return s;
}

GMimeStream* NewMemStream(const void* data, size_t size) {
  static const char kEmpty[1] = {0};
  if (data == nullptr || size == 0) return g_mime_stream_mem_new_with_buffer(kEmpty, 0);
  return g_mime_stream_mem_new_with_buffer(static_cast<const char*>(data), size);
}

// A read-only memory stream over bytes the caller keeps alive and unchanged
// for as long as any GMime object made from the stream lives: the bytes are
// read in place, not copied (a mail of many megabytes was copied whole into
// every stream made from it). Declare the view before those objects so that
// it goes last.
class BorrowedBytes {
 public:
  BorrowedBytes(const void* data, size_t size) {
    static const guint8 kEmpty[1] = {0};
    if (size > std::numeric_limits<guint>::max() / 2) throw MimeError("The message is too large.");
    const guint8* bytes = (data == nullptr || size == 0) ? kEmpty : static_cast<const guint8*>(data);
    // The array is only ever read; it is handed back below, never freed.
    array_ = g_byte_array_new_take(const_cast<guint8*>(bytes), data == nullptr ? 0 : size);
  }
  ~BorrowedBytes() {
    g_byte_array_steal(array_, nullptr);
    g_byte_array_unref(array_);
  }
  BorrowedBytes(const BorrowedBytes&) = delete;
  BorrowedBytes& operator=(const BorrowedBytes&) = delete;

  // A new stream over the bytes (one reference for the caller).
  GMimeStream* NewStream() const {
    GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array_);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
    return stream;
  }

 private:
  GByteArray* array_ = nullptr;
};

// ---- a stream that appends what is written to it to a container --------------

extern "C" {
struct PxSinkStream {
  GMimeStream parent;
  void (*append)(void* target, const char* data, size_t size);
  void* target;
  gint64 written;
};
struct PxSinkStreamClass {
  GMimeStreamClass parent_class;
};
}

G_DEFINE_TYPE(PxSinkStream, px_sink_stream, GMIME_TYPE_STREAM)

ssize_t SinkWrite(GMimeStream* stream, const char* buf, size_t len) {
  auto* sink = reinterpret_cast<PxSinkStream*>(stream);
  try {
    sink->append(sink->target, buf, len);
  } catch (...) {
    return -1;  // out of memory: the writer reports the failure
  }
  sink->written += static_cast<gint64>(len);
  stream->position += static_cast<gint64>(len);
  return static_cast<ssize_t>(len);
}
int SinkNothing(GMimeStream*) { return 0; }
gboolean SinkEos(GMimeStream*) { return FALSE; }
ssize_t SinkRead(GMimeStream*, char*, size_t) { return -1; }
gint64 SinkSeek(GMimeStream*, gint64, GMimeSeekWhence) { return -1; }
gint64 SinkTell(GMimeStream* stream) { return stream->position; }
gint64 SinkLength(GMimeStream* stream) { return reinterpret_cast<PxSinkStream*>(stream)->written; }
GMimeStream* SinkSubstream(GMimeStream*, gint64, gint64) { return nullptr; }

void px_sink_stream_class_init(PxSinkStreamClass* klass) {
  GMimeStreamClass* stream = GMIME_STREAM_CLASS(klass);
  stream->read = SinkRead;
  stream->write = SinkWrite;
  stream->flush = SinkNothing;
  stream->close = SinkNothing;
  stream->eos = SinkEos;
  stream->reset = SinkNothing;
  stream->seek = SinkSeek;
  stream->tell = SinkTell;
  stream->length = SinkLength;
  stream->substream = SinkSubstream;
}

void px_sink_stream_init(PxSinkStream* sink) {
  sink->append = nullptr;
  sink->target = nullptr;
  sink->written = 0;
}

// A stream whose writes are appended to `out` (std::string or a byte vector).
template <class Container>
GRef<GMimeStream> SinkInto(Container& out) {
  auto* sink = static_cast<PxSinkStream*>(g_object_new(px_sink_stream_get_type(), nullptr));
  g_mime_stream_construct(GMIME_STREAM(sink), 0, -1);
  sink->target = &out;
  sink->append = [](void* target, const char* data, size_t size) {
    auto& c = *static_cast<Container*>(target);
    c.insert(c.end(), reinterpret_cast<const typename Container::value_type*>(data),
             reinterpret_cast<const typename Container::value_type*>(data) + size);
  };
  return GRef<GMimeStream>(GMIME_STREAM(sink));
}

// ---- writing -------------------------------------------------------------------

// Non-ASCII names and file names are always encoded as UTF-8 (GMime would
// otherwise pick the smallest legacy charset that fits).
void AddMailbox(GMimeMessage* msg, GMimeAddressType type, const Address& a) {
  std::string addr = CleanAddress(a.address);
  if (addr.empty()) return;
  std::string name = CleanHeaderText(a.name);
  GRef<InternetAddress> ia(internet_address_mailbox_new(name.empty() ? nullptr : name.c_str(), addr.c_str()));
  internet_address_set_charset(ia.get(), "utf-8");
  internet_address_list_add(g_mime_message_get_addresses(msg, type), ia.get());
}

void AddMailboxes(GMimeMessage* msg, GMimeAddressType type, const std::vector<Address>& list) {
  for (const Address& a : list) AddMailbox(msg, type, a);
}

void UseUtf8ForParam(GMimeParamList* params, const char* name) {
  if (params == nullptr) return;
  GMimeParam* param = g_mime_param_list_get_parameter(params, name);
  if (param != nullptr) g_mime_param_set_charset(param, "utf-8");
}

// The part's content is the stream's bytes as they are, to be written in
// `encoding`.
void SetContentStream(GMimePart* part, GMimeStream* stream, GMimeContentEncoding encoding) {
  GRef<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  g_mime_part_set_content_encoding(part, encoding);
}

void SetContent(GMimePart* part, const void* data, size_t size, GMimeContentEncoding encoding) {
  GRef<GMimeStream> stream(NewMemStream(data, size));
  SetContentStream(part, stream.get(), encoding);
}

std::string QuotedPrintable(std::string_view text) {
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  std::string out(g_mime_encoding_outlen(&state, text.size()) + 16, '\0');
  size_t n = g_mime_encoding_flush(&state, text.data(), text.size(), out.data());
  out.resize(std::min(n, out.size()));
  return out;
}

GRef<GMimeObject> MakeBodyPart(const std::string& body) {
  std::string valid = ValidUtf8(body);
  std::string text = NormalizeNewlines(valid, "\n");
  GRef<GMimeTextPart> part(g_mime_text_part_new_with_subtype("plain"));
  SetContent(GMIME_PART(part.get()), text.data(), text.size(), GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_text_part_set_charset(part.get(), "utf-8");
  GMimeContentEncoding best =
      g_mime_part_get_best_content_encoding(GMIME_PART(part.get()), GMIME_ENCODING_CONSTRAINT_7BIT);
  if (best == GMIME_CONTENT_ENCODING_BASE64) {
    // Base64 carries text in its canonical form, with CR LF line breaks.
    text = NormalizeNewlines(valid, "\r\n");
    SetContent(GMIME_PART(part.get()), text.data(), text.size(), best);
  } else if (!text.empty() && text.back() != '\n') {
    // The writer ends the message with a line break, which would come back
    // as part of the text; quoted-printable ending in a soft line break keeps
    // the text's own end exact. GMime writes content that is already in the
    // part's encoding as it is.
    std::string encoded = QuotedPrintable(text);
    if (encoded.empty() || encoded.back() != '\n') encoded += "=\n";
    GRef<GMimeStream> stream(NewMemStream(encoded.data(), encoded.size()));
    GRef<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE));
    g_mime_part_set_content(GMIME_PART(part.get()), wrapper.get());
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  } else {
    // 7bit and quoted-printable line breaks follow the chosen newline format.
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), best);
  }
  return GRef<GMimeObject>(GMIME_OBJECT(part.release()));
}

using Borrowed = std::vector<std::unique_ptr<BorrowedBytes>>;

// The attachment's bytes are read in place when the message is written:
// `borrowed` keeps the view, and must outlive the part.
GRef<GMimeObject> MakeAttachmentPart(const Attachment& att, Borrowed& borrowed) {
  std::string type = "application";
  std::string subtype = "octet-stream";
  std::string ct = CleanHeaderText(att.contentType);
  if (!ct.empty()) {
    GRef<GMimeContentType> parsed(g_mime_content_type_parse(nullptr, ct.c_str()));
    if (parsed) {
      std::string t = LowerAscii(FromCString(g_mime_content_type_get_media_type(parsed.get())));
      std::string s = LowerAscii(FromCString(g_mime_content_type_get_media_subtype(parsed.get())));
      // Composite types may not be base64 encoded; such bytes travel as plain data.
      if (!t.empty() && !s.empty() && t != "multipart" && t != "message") {
        type = t;
        subtype = s;
      }
    }
  }
  GRef<GMimePart> part(g_mime_part_new_with_type(type.c_str(), subtype.c_str()));
  borrowed.push_back(std::make_unique<BorrowedBytes>(att.data.data(), att.data.size()));
  GRef<GMimeStream> stream(borrowed.back()->NewStream());
  SetContentStream(part.get(), stream.get(), GMIME_CONTENT_ENCODING_BASE64);
  g_mime_object_set_disposition(GMIME_OBJECT(part.get()), GMIME_DISPOSITION_ATTACHMENT);
  std::string name = CleanHeaderText(att.name);
  if (!name.empty()) {
    g_mime_part_set_filename(part.get(), name.c_str());
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(GMIME_OBJECT(part.get()));
    if (disposition != nullptr) {
      UseUtf8ForParam(g_mime_content_disposition_get_parameters(disposition), "filename");
    }
    GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part.get()));
    if (type != nullptr) UseUtf8ForParam(g_mime_content_type_get_parameters(type), "name");
  }
  return GRef<GMimeObject>(GMIME_OBJECT(part.release()));
}

// ---- reading -------------------------------------------------------------------

void CollectMailboxes(InternetAddressList* list, std::vector<Address>& out, int depth = 0) {
  if (list == nullptr || depth > 4) return;
  int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* ia = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
      Address a;
      a.name = CleanHeaderText(FromCString(internet_address_get_name(ia)));
      a.address = CleanHeaderText(FromCString(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia))));
      if (!a.address.empty() || !a.name.empty()) out.push_back(std::move(a));
    } else if (INTERNET_ADDRESS_IS_GROUP(ia)) {
      CollectMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out, depth + 1);
    }
  }
}

// The decoded (transfer encoding removed) bytes of a leaf part, as a string
// or a byte vector.
template <class Container = std::string>
Container DecodedContent(GMimePart* part) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  if (wrapper == nullptr) return {};
  Container bytes;
  // Decoding never makes the content larger than it is encoded (the
  // content is a part of the message, which is already in memory).
  GMimeStream* encoded = g_mime_data_wrapper_get_stream(wrapper);
  const gint64 length = encoded != nullptr ? g_mime_stream_length(encoded) : -1;
  if (length > 0) platform::ReserveBytes(bytes, static_cast<std::size_t>(length));
  GRef<GMimeStream> out = SinkInto(bytes);
  if (g_mime_data_wrapper_write_to_stream(wrapper, out.get()) < 0) return {};
  return bytes;
}

std::string ConvertToUtf8(const std::string& bytes, const char* charset) {
  if (bytes.empty()) return {};
  auto tryConvert = [&](const char* from, std::string& result) {
    gsize written = 0;
    GError* err = nullptr;
    GString_ converted(
        g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", from, nullptr, &written, &err));
    std::unique_ptr<GError, ErrorFree> guard(err);
    if (!converted) return false;
    result.assign(converted.get(), written);
    return true;
  };
  std::string result;
  if (charset != nullptr && !EqualsNoCase(charset, "utf-8") && !EqualsNoCase(charset, "us-ascii")) {
    const char* iconvName = g_mime_charset_iconv_name(charset);
    if (iconvName != nullptr && tryConvert(iconvName, result)) return result;
  }
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
  // Undeclared or mis-declared 8-bit text is most often Windows Latin.
  if (tryConvert("CP1252", result) || tryConvert("ISO-8859-1", result)) return result;
  GString_ fixed(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
  return FromCString(fixed.get());
}

std::string PartFileName(GMimeObject* obj) {
  const char* name = g_mime_object_get_content_disposition_parameter(obj, "filename");
  if (name == nullptr) name = g_mime_object_get_content_type_parameter(obj, "name");
  return CleanHeaderText(FromCString(name));
}

std::string PartMimeType(GMimeObject* obj) {
  GMimeContentType* ct = g_mime_object_get_content_type(obj);
  if (ct == nullptr) return "application/octet-stream";
  GString_ type(g_mime_content_type_get_mime_type(ct));
  std::string out = LowerAscii(CleanHeaderText(FromCString(type.get())));
  return out.empty() ? "application/octet-stream" : out;
}

struct PartWalk {
  GMimeObject* body = nullptr;      // first inline text/plain
  GMimeObject* fallback = nullptr;  // first inline text of another subtype
  std::vector<Attachment> attachments;
};

void WalkParts(GMimeObject* obj, int depth, PartWalk& walk) {
  if (obj == nullptr || depth > kMaxPartDepth) return;
  if (GMIME_IS_MULTIPART(obj)) {
    GMimeMultipart* mp = GMIME_MULTIPART(obj);
    int n = g_mime_multipart_get_count(mp);
    for (int i = 0; i < n; ++i) WalkParts(g_mime_multipart_get_part(mp, i), depth + 1, walk);
    return;
  }
  if (GMIME_IS_MESSAGE_PART(obj)) {
    // An attached message is kept whole, as the text it was sent as.
    Attachment att;
    att.name = PartFileName(obj);
    att.contentType = PartMimeType(obj);
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
    if (inner != nullptr) {
      GRef<GMimeStream> out = SinkInto(att.data);
      if (g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, out.get()) < 0) att.data.clear();
    }
    walk.attachments.push_back(std::move(att));
    return;
  }
  if (!GMIME_IS_PART(obj)) return;
  GMimeContentType* ct = g_mime_object_get_content_type(obj);
  bool isText = ct != nullptr && EqualsNoCase(g_mime_content_type_get_media_type(ct), "text");
  bool isPlain = isText && EqualsNoCase(g_mime_content_type_get_media_subtype(ct), "plain");
  bool dispAttachment = EqualsNoCase(g_mime_object_get_disposition(obj), GMIME_DISPOSITION_ATTACHMENT);
  std::string name = PartFileName(obj);
  if (isText && !dispAttachment && name.empty()) {
    if (isPlain && walk.body == nullptr) {
      walk.body = obj;
    } else if (!isPlain && walk.fallback == nullptr) {
      walk.fallback = obj;
    }
    return;
  }
  Attachment att;
  att.name = std::move(name);
  att.contentType = PartMimeType(obj);
  att.data = DecodedContent<std::vector<uint8_t>>(GMIME_PART(obj));
  walk.attachments.push_back(std::move(att));
}

int ImportanceFromHeaders(GMimeObject* obj) {
  auto header = [&](const char* name) {
    return LowerAscii(CleanHeaderText(FromCString(g_mime_object_get_header(obj, name))));
  };
  std::string v = header("Importance");
  if (v == "high") return 2;
  if (v == "low") return 0;
  if (v == "normal") return 1;
  v = header("X-Priority");
  if (!v.empty() && v[0] >= '1' && v[0] <= '5') {
    if (v[0] <= '2') return 2;
    if (v[0] == '3') return 1;
    return 0;
  }
  v = header("X-MSMail-Priority");
  if (v == "high") return 2;
  if (v == "low") return 0;
  if (v == "normal") return 1;
  v = header("Priority");
  if (v == "urgent") return 2;
  if (v == "non-urgent") return 0;
  return 1;
}

}  // namespace

std::string WriteMime(const MailMessage& m, MimeNewline newline) {
  EnsureInit();
  Borrowed borrowed;  // before the message, which reads from it
  GRef<GMimeMessage> msg(g_mime_message_new(TRUE));
  GMimeObject* obj = GMIME_OBJECT(msg.get());

  std::string fromAddr = CleanAddress(m.from.address);
  AddMailbox(msg.get(), GMIME_ADDRESS_TYPE_FROM, m.from);
  AddMailboxes(msg.get(), GMIME_ADDRESS_TYPE_TO, m.to);
  AddMailboxes(msg.get(), GMIME_ADDRESS_TYPE_CC, m.cc);
  // Bcc addresses are used for delivery only and never written.

  std::string subject = CleanHeaderText(m.subject);
  g_mime_message_set_subject(msg.get(), subject.c_str(), "utf-8");

  std::string dateText = CleanHeaderText(m.date);
  GDate date(dateText.empty() ? nullptr : g_mime_utils_header_decode_date(dateText.c_str()));
  if (date) {
    g_mime_message_set_date(msg.get(), date.get());
  } else {
    // GMime dates a new message itself (with the system's clock); the date
    // is the sender's to give, so without one there is none.
    g_mime_object_remove_header(obj, "Date");
  }

  std::string id = CleanAddress(m.messageId);
  if (id.empty()) id = GenerateMessageId(fromAddr);
  g_mime_message_set_message_id(msg.get(), id.c_str());

  int importance = (m.importance >= 0 && m.importance <= 2) ? m.importance : 1;
  static const char* const kPriority[] = {"5", "3", "1"};
  static const char* const kImportance[] = {"low", "normal", "high"};
  g_mime_object_set_header(obj, "X-Priority", kPriority[importance], nullptr);
  g_mime_object_set_header(obj, "Importance", kImportance[importance], nullptr);

  GRef<GMimeObject> body = MakeBodyPart(m.body);
  if (m.attachments.empty()) {
    g_mime_message_set_mime_part(msg.get(), body.get());
  } else {
    GRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), body.get());
    for (const Attachment& att : m.attachments) {
      GRef<GMimeObject> part = MakeAttachmentPart(att, borrowed);
      g_mime_multipart_add(mixed.get(), part.get());
    }
    g_mime_message_set_mime_part(msg.get(), GMIME_OBJECT(mixed.get()));
  }
  if (g_mime_object_get_header(obj, "MIME-Version") == nullptr) {
    g_mime_object_set_header(obj, "MIME-Version", "1.0", nullptr);
  }

  std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> options(g_mime_format_options_new());
  g_mime_format_options_set_newline_format(
      options.get(), newline == MimeNewline::Crlf ? GMIME_NEWLINE_FORMAT_DOS : GMIME_NEWLINE_FORMAT_UNIX);
  // Room for the whole message up front (base64 grows the attachments by a
  // third, plus line breaks): a growing buffer would be copied over and
  // over for a large attachment.
  std::size_t estimate = 4096 + m.body.size() * 3;
  for (const Attachment& att : m.attachments) estimate += att.data.size() / 3 * 4 * 78 / 76 + 1024;
  std::string text;
  platform::ReserveBytes(text, estimate);
  GRef<GMimeStream> out = SinkInto(text);
  if (g_mime_object_write_to_stream(obj, options.get(), out.get()) < 0) {
    throw MimeError("The message could not be written.");
  }
  return text;
}

MailMessage ReadMime(std::string_view raw) {
  EnsureInit();
  if (raw.empty()) throw MimeError("The message is empty.");
  const BorrowedBytes view(raw.data(), raw.size());  // before everything parsed from it
  GRef<GMimeStream> stream(view.NewStream());
  GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  GRef<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!msg) throw MimeError("The text is not a mail message.");
  GMimeObject* obj = GMIME_OBJECT(msg.get());
  GMimeHeaderList* headers = g_mime_object_get_header_list(obj);
  if (headers == nullptr || g_mime_header_list_get_count(headers) == 0) {
    throw MimeError("The message has no header.");
  }

  MailMessage m;
  std::vector<Address> from;
  CollectMailboxes(g_mime_message_get_from(msg.get()), from);
  if (!from.empty()) m.from = std::move(from.front());
  CollectMailboxes(g_mime_message_get_to(msg.get()), m.to);
  CollectMailboxes(g_mime_message_get_cc(msg.get()), m.cc);
  CollectMailboxes(g_mime_message_get_bcc(msg.get()), m.bcc);
  m.subject = CleanHeaderText(FromCString(g_mime_message_get_subject(msg.get())));
  m.importance = ImportanceFromHeaders(obj);
  m.messageId = CleanAddress(FromCString(g_mime_message_get_message_id(msg.get())));
  m.date = CleanHeaderText(FromCString(g_mime_object_get_header(obj, "Date")));

  PartWalk walk;
  WalkParts(g_mime_message_get_mime_part(msg.get()), 0, walk);
  GMimeObject* bodyPart = walk.body != nullptr ? walk.body : walk.fallback;
  if (bodyPart != nullptr) {
    std::string bytes = DecodedContent(GMIME_PART(bodyPart));
    std::string text = ConvertToUtf8(bytes, g_mime_object_get_content_type_parameter(bodyPart, "charset"));
    m.body = NormalizeNewlines(text, "\r\n");
  }
  m.attachments = std::move(walk.attachments);
  return m;
}

namespace {

// Why a base64 text is not whole, empty when it is: without its white space
// it is groups of four characters, the last of which alone may end in one
// or two '='.
std::string Base64CutShort(std::string_view encoded) {
  std::size_t length = 0, padding = 0;
  for (char c : encoded) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
    } else if (padding > 0) {
      return "a base64 part has padding in the middle";
    }
    ++length;
  }
  if (padding > 2) return "a base64 part has padding in the middle";
  if (length % 4 != 0) return "a base64 part ends in the middle of a group";
  return {};
}

// The first base64 leaf below `obj` (attached messages included) whose text
// is not whole.
std::string PartsCutShort(GMimeObject* obj, int depth) {
  if (obj == nullptr || depth > kMaxPartDepth) return {};
  if (GMIME_IS_MULTIPART(obj)) {
    GMimeMultipart* mp = GMIME_MULTIPART(obj);
    const int n = g_mime_multipart_get_count(mp);
    for (int i = 0; i < n; ++i) {
      std::string why = PartsCutShort(g_mime_multipart_get_part(mp, i), depth + 1);
      if (!why.empty()) return why;
    }
    return {};
  }
  if (GMIME_IS_MESSAGE_PART(obj)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
    return inner != nullptr ? PartsCutShort(g_mime_message_get_mime_part(inner), depth + 1) : std::string();
  }
  if (!GMIME_IS_PART(obj)) return {};
  GMimePart* part = GMIME_PART(obj);
  if (g_mime_part_get_content_encoding(part) != GMIME_CONTENT_ENCODING_BASE64) return {};
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  GMimeStream* encoded = wrapper != nullptr ? g_mime_data_wrapper_get_stream(wrapper) : nullptr;
  if (encoded == nullptr) return {};
  // The part's text as it stands in the message (GMime keeps it encoded).
  std::string text;
  GRef<GMimeStream> out = SinkInto(text);
  g_mime_stream_reset(encoded);
  if (g_mime_stream_write_to_stream(encoded, out.get()) < 0) return {};
  g_mime_stream_reset(encoded);
  return Base64CutShort(text);
}

}  // namespace

std::string MimeCutShort(std::string_view raw) {
  EnsureInit();
  if (raw.empty()) return {};
  const BorrowedBytes view(raw.data(), raw.size());
  GRef<GMimeStream> stream(view.NewStream());
  GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  GRef<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!msg) return {};  // not a message at all: ReadMime says so
  GMimeObject* top = g_mime_message_get_mime_part(msg.get());
  if (top != nullptr && GMIME_IS_MULTIPART(top)) {
    // A cut can only take away the end of the text, so the message's own
    // multipart is the one that loses its closing line ("--boundary--" at
    // the start of a line). Inner multiparts end before it; GMime's own
    // warning about a cut also fires for an attached message without a
    // body, which is sound.
    const char* boundary = g_mime_multipart_get_boundary(GMIME_MULTIPART(top));
    if (boundary != nullptr && *boundary != '\0' &&
        raw.find("\n--" + std::string(boundary) + "--") == std::string_view::npos) {
      return "it ends before the closing boundary of its parts";
    }
  }
  return PartsCutShort(top, 0);
}

std::string GenerateMessageId(std::string_view fromAddress) {
  EnsureInit();
  std::string domain;
  size_t at = fromAddress.rfind('@');
  if (at != std::string_view::npos) {
    for (char c : fromAddress.substr(at + 1)) {
      if (g_ascii_isalnum(c) || c == '.' || c == '-') domain += static_cast<char>(g_ascii_tolower(c));
    }
  }
  if (domain.empty()) domain = "localhost";
  GString_ id(g_mime_utils_generate_message_id(domain.c_str()));
  return FromCString(id.get());
}

std::optional<std::int64_t> ParseMailDate(std::string_view date) {
  EnsureInit();
  std::string text = CleanHeaderText(date);
  if (text.empty()) return std::nullopt;
  GDate parsed(g_mime_utils_header_decode_date(text.c_str()));
  if (!parsed) return std::nullopt;
  return g_date_time_to_unix(parsed.get());
}

std::string FormatMailDate(std::int64_t unixSeconds, int minutesEastOfUtc) {
  EnsureInit();
  // Zones lie within a day of UTC (GLib takes nothing wider).
  if (minutesEastOfUtc <= -24 * 60 || minutesEastOfUtc >= 24 * 60) return {};
  GDate utc(g_date_time_new_from_unix_utc(unixSeconds));
  if (!utc) return {};
  std::unique_ptr<GTimeZone, void (*)(GTimeZone*)> zone(g_time_zone_new_offset(minutesEastOfUtc * 60),
                                                         g_time_zone_unref);
  GDate dt(zone ? g_date_time_to_timezone(utc.get(), zone.get()) : nullptr);
  if (!dt) return {};
  GString_ text(g_mime_utils_header_format_date(dt.get()));
  return FromCString(text.get());
}

}  // namespace host
