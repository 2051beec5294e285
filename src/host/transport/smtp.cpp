#include "host/transport/smtp.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "host/transport/mime.hpp"
#include "host/transport/transport.hpp"
#include "platform/text.hpp"

namespace host {
namespace {

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

struct CurlSlist {
  curl_slist* list = nullptr;
  ~CurlSlist() { curl_slist_free_all(list); }
  void Append(const std::string& s) {
    curl_slist* next = curl_slist_append(list, s.c_str());
    if (!next) throw std::bad_alloc();
    list = next;
  }
};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct SmtpSender::Impl {
  MailServer server;
  AccountSettings settings;
  std::string account;
  std::shared_ptr<PasswordSource> password;
  TransferProgress progress;

  // One send's state, seen by the callbacks.
  struct Transfer {
    std::string_view text;
    std::size_t offset = 0;
    // The last SMTP command sent, by its kind ("RCPT", "MAIL", "DATA",
    // "AUTH"...; never its text) and the server's last reply line.
    std::string lastCommand;
    std::string lastReply;
    // The recipient of the last RCPT TO.
    std::string lastRecipient;
    // The first reply that refused something (4xx, 5xx), with the command
    // and recipient it answered: libcurl ends with QUIT, whose reply would
    // hide it.
    std::string refusal, refusedCommand, refusedRecipient;
    const TransferProgress* progress = nullptr;
    std::uint64_t reported = ~std::uint64_t{0};
  };

  static size_t Read(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = std::min(size * count, t->text.size() - t->offset);
    std::memcpy(buffer, t->text.data() + t->offset, n);
    t->offset += n;
    return n;
  }

  static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT) {
      // Only the commands whose refusal is told apart are kept; anything
      // else (an AUTH command and the base64 lines that continue it) is
      // recorded as "AUTH" and never with its text.
      const std::string line = Trim(text.substr(0, text.find('\n')));
      const std::string lower = platform::FoldCase(line);
      if (lower.starts_with("rcpt to:")) {
        t->lastCommand = "RCPT";
        std::string addr = Trim(line.substr(8));
        if (addr.size() >= 2 && addr.front() == '<' && addr.back() == '>') addr = addr.substr(1, addr.size() - 2);
        t->lastRecipient = platform::OneLine(addr);
      } else if (lower.starts_with("mail from:")) {
        t->lastCommand = "MAIL";
      } else if (lower == "data" || lower == "starttls" || lower == "quit" || lower == "rset" || lower == "noop") {
        t->lastCommand = lower == "data" ? "DATA" : lower;
      } else if (lower.starts_with("ehlo ") || lower.starts_with("helo ")) {
        t->lastCommand = "EHLO";
      } else if (!line.empty()) {
        t->lastCommand = "AUTH";
      }
    } else if (type == CURLINFO_HEADER_IN) {
      // A reply may span lines ("250-..."); its last line ends it.
      std::string_view rest = text;
      while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        const std::string line = Trim(rest.substr(0, nl));
        if (!line.empty()) {
          t->lastReply = platform::OneLine(line);
          const bool final = line.size() >= 3 && (line.size() == 3 || line[3] == ' ');
          if (final && t->refusal.empty() && (line[0] == '4' || line[0] == '5')) {
            t->refusal = t->lastReply;
            t->refusedCommand = t->lastCommand;
            t->refusedRecipient = t->lastRecipient;
          }
        }
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
      }
    }
    return 0;
  }

  static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (t->progress && *t->progress) {
      // In bytes of the message; libcurl's own count includes the dots it
      // doubles at line starts.
      (void)ultotal;
      (void)ulnow;
      const auto done = static_cast<std::uint64_t>(t->offset);
      if (done != t->reported) {
        t->reported = done;
        (*t->progress)("Sending", done, t->text.size());
      }
    }
    return 0;
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw TransportError("Account " + account + ", sending through " + server.Url() + ": " + why);
  }

  std::string Why(CURLcode code, long response, const Transfer& t, const char* errorBuffer) const {
    const std::string detail = platform::OneLine(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    const std::string& reply = t.refusal.empty() ? t.lastReply : t.refusal;
    const std::string said = reply.empty() ? "" : " (the server said: " + reply + ")";
    switch (code) {
      case CURLE_LOGIN_DENIED:
        return "wrong user name or password" + said;
      case CURLE_COULDNT_RESOLVE_HOST:
        return "unknown host " + server.host;
      case CURLE_COULDNT_CONNECT:
        return "server not reachable: nothing answers at " + server.host + " port " + std::to_string(server.port) +
               " (" + detail + ")";
      case CURLE_OPERATION_TIMEDOUT:
        return "server not reachable: no answer in time (" + detail + ")";
      case CURLE_USE_SSL_FAILED:
        return "TLS refused: the server does not offer STARTTLS" + said;
      case CURLE_PEER_FAILED_VERIFICATION:
        return std::string("certificate not trusted: ") + detail +
               (settings.caFile.empty() ? "" : " (trusted certificates: " + settings.caFile + ")");
      case CURLE_SSL_CACERT_BADFILE:
        return "the CA file cannot be used: " + (settings.caFile.empty() ? detail : settings.caFile + " (" + detail + ")");
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_ENGINE_NOTFOUND:
      case CURLE_SSL_ENGINE_SETFAILED:
      case CURLE_SSL_CERTPROBLEM:
      case CURLE_SSL_CIPHER:
      case CURLE_SSL_ENGINE_INITFAILED:
      case CURLE_SSL_SHUTDOWN_FAILED:
      case CURLE_SSL_CRL_BADFILE:
      case CURLE_SSL_ISSUER_ERROR:
      case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      case CURLE_SSL_INVALIDCERTSTATUS:
      case CURLE_SSL_CLIENTCERT:
        return "TLS failed: " + detail;
      case CURLE_SEND_ERROR:
      case CURLE_RECV_ERROR:
      case CURLE_WEIRD_SERVER_REPLY:
        if (!t.refusal.empty() || response >= 400) {
          const std::string& cmd = t.refusal.empty() ? t.lastCommand : t.refusedCommand;
          if (cmd == "RCPT") {
            return "recipient refused: " + (t.refusal.empty() ? t.lastRecipient : t.refusedRecipient) + said;
          }
          if (cmd == "MAIL") return "sender refused: " + account + said;
          if (cmd == "DATA" || t.offset > 0) return "message refused" + said;
          if (cmd == "AUTH") return "login refused" + said;
          if (cmd == "starttls") return "TLS refused" + said;
        }
        return "connection failed: " + detail + said;
      default:
        return detail + said;
    }
  }
};

SmtpSender::SmtpSender(MailServer server, AccountSettings settings, std::string account,
                       std::shared_ptr<PasswordSource> password, TransferProgress progress)
    : impl_(std::make_unique<Impl>(
          Impl{std::move(server), std::move(settings), std::move(account), std::move(password), std::move(progress)})) {
  GlobalInit();
}

SmtpSender::~SmtpSender() = default;

void SmtpSender::Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) {
  Impl& m = *impl_;
  // Every recipient is checked before anything goes out.
  std::vector<std::string> recipients, invalid;
  std::set<std::string> seen;
  for (const std::string& r : envelopeRecipients) {
    std::string address = Trim(r);
    if (address.empty()) continue;
    if (!IsMailAddress(address)) {
      invalid.push_back(address);
      continue;
    }
    if (seen.insert(platform::FoldCase(address)).second) recipients.push_back(std::move(address));
  }
  if (!invalid.empty()) {
    std::string list;
    for (const std::string& a : invalid) list += (list.empty() ? "\"" : "\", \"") + platform::OneLine(a);
    throw TransportError("The message was not sent: not an e-mail address: " + list + "\"");
  }
  if (recipients.empty()) throw TransportError("The message has no recipients.");
  if (!IsMailAddress(m.account)) m.Fail("the account's address " + platform::OneLine(m.account) + " is not an e-mail address");

  const std::string text = WriteMime(message, MimeNewline::Crlf);
  const std::string user = m.settings.user.empty() ? m.account : m.settings.user;
  const std::string& password = m.password->Get();

  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) m.Fail("libcurl cannot start");
  CURL* h = curl.get();
  Impl::Transfer t;
  t.text = text;
  t.progress = &m.progress;
  char errorBuffer[CURL_ERROR_SIZE] = {0};
  CurlSlist rcpt;
  for (const std::string& r : recipients) rcpt.Append("<" + r + ">");
  const std::string url = m.server.Url();
  const std::string from = "<" + m.account + ">";

  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  if (!m.server.implicitTls) {
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(m.server.loopback ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  }
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!m.settings.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, m.settings.caFile.c_str());
  curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.list);
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &Impl::Read);
  curl_easy_setopt(h, CURLOPT_READDATA, &t);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text.size()));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, 60L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
  // The protocol exchange is watched to tell which command the server refused.
  curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &Impl::Debug);
  curl_easy_setopt(h, CURLOPT_DEBUGDATA, &t);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);

  const CURLcode rc = curl_easy_perform(h);
  long response = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
  // Nothing of the password stays in libcurl's handle longer than needed.
  curl_easy_setopt(h, CURLOPT_PASSWORD, "");
  if (rc == CURLE_OK) return;
  if (rc == CURLE_LOGIN_DENIED) m.password->Forget();
  m.Fail(m.Why(rc, response, t, errorBuffer));
}

}  // namespace host
