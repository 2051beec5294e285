// The test mail servers themselves, checked with libcurl: what the account
// transports' tests rely on (login, INBOX, delivery, the refusals) must hold
// before their failures mean anything.
#include "support/mail_servers.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace host {
namespace {

namespace fs = std::filesystem;

struct CurlResult {
  CURLcode code = CURLE_OK;
  long response = 0;
  std::string body;
  std::string error;
};

size_t Collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

struct Upload {
  std::string text;
  size_t at = 0;
};

size_t Feed(char* buffer, size_t size, size_t n, void* in) {
  auto* up = static_cast<Upload*>(in);
  size_t len = std::min(size * n, up->text.size() - up->at);
  up->text.copy(buffer, len, up->at);
  up->at += len;
  return len;
}

struct Request {
  std::string url, user, password;
  std::optional<std::string> caFile;  // nullopt: the system's certificates
  bool requireTls = true;             // STARTTLS on plain schemes
  std::string customRequest;
  // SMTP only.
  std::string from;
  std::vector<std::string> rcpts;
  std::string message;
};

CurlResult Perform(const Request& r) {
  CurlResult result;
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.code = CURLE_FAILED_INIT;
    return result;
  }
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(c, CURLOPT_USERNAME, r.user.c_str());
  curl_easy_setopt(c, CURLOPT_PASSWORD, r.password.c_str());
  if (r.caFile) curl_easy_setopt(c, CURLOPT_CAINFO, r.caFile->c_str());
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(r.requireTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &result.body);
  if (!r.customRequest.empty()) curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.customRequest.c_str());
  Upload upload{r.message, 0};
  curl_slist* rcpts = nullptr;
  if (!r.rcpts.empty()) {
    for (const auto& to : r.rcpts) rcpts = curl_slist_append(rcpts, to.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, r.from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, Feed);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  }
  result.code = curl_easy_perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.response);
  result.error = error;
  curl_slist_free_all(rcpts);
  return result;
}

std::string Mail(const std::string& from, const std::string& to, const std::string& subject,
                 const std::string& messageId) {
  return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nMessage-ID: " + messageId +
         "\r\nDate: Thu, 10 Dec 2026 12:00:00 +0000\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\nHello,\r\nthe list is attached.\r\n";
}

// The UIDs an IMAP SEARCH answered ("* SEARCH 1 4").
std::vector<int> SearchHits(const std::string& body) {
  std::vector<int> hits;
  std::smatch m;
  if (std::regex_search(body, m, std::regex(R"(\* SEARCH([ 0-9]*))"))) {
    std::istringstream in(m[1].str());
    for (int n; in >> n;) hits.push_back(n);
  }
  return hits;
}

class MailServersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      servers_ = std::make_unique<MailServers>();
    } catch (const std::exception& e) {
      startError_ = e.what();
    }
  }
  static void TearDownTestSuite() { servers_.reset(); }
  void SetUp() override { ASSERT_TRUE(servers_) << startError_; }

  const MailServers& S() const { return *servers_; }
  Request As(const std::string& user, const std::string& url) const {
    Request r;
    r.url = url;
    r.user = user;
    r.password = S().Password(user);
    r.caFile = S().CaFile().string();
    return r;
  }

  static std::unique_ptr<MailServers> servers_;
  static std::string startError_;
};

std::unique_ptr<MailServers> MailServersTest::servers_;
std::string MailServersTest::startError_;

TEST_F(MailServersTest, DeliveredMailIsSeenOverImap) {
  struct Case {
    std::string url;
    std::string messageId;
  };
  const Case cases[] = {{S().SmtpUrl(), "<starttls.1@example.org>"}, {S().SmtpsUrl(), "<smtps.1@example.org>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Request send = As("alice", c.url);
    send.from = S().Address("alice");
    send.rcpts = {S().Address("bob")};
    send.message = Mail(send.from, send.rcpts[0], "Team list " + c.messageId, c.messageId);
    CurlResult sent = Perform(send);
    ASSERT_EQ(sent.code, CURLE_OK) << sent.error;

    int inMaildir = 0;
    for (const auto& text : S().ReadMessages("bob")) inMaildir += text.find(c.messageId) != std::string::npos;
    EXPECT_EQ(inMaildir, 1);
    // Delivered as the mail user, whom Dovecot reads it as.
    struct stat dir {};
    ASSERT_EQ(::stat(S().Maildir("bob").c_str(), &dir), 0);
    for (const auto& entry : fs::directory_iterator(S().Maildir("bob") / "new")) {
      struct stat file {};
      ASSERT_EQ(::stat(entry.path().c_str(), &file), 0);
      EXPECT_EQ(file.st_uid, dir.st_uid) << entry.path();
    }

    Request search = As("bob", S().ImapsUrl() + "/INBOX");
    search.customRequest = "UID SEARCH HEADER Message-ID \"" + c.messageId + "\"";
    CurlResult found = Perform(search);
    ASSERT_EQ(found.code, CURLE_OK) << found.error;
    auto uids = SearchHits(found.body);
    ASSERT_EQ(uids.size(), 1u) << found.body;
    CurlResult fetched = Perform(As("bob", S().ImapsUrl() + "/INBOX/;UID=" + std::to_string(uids[0])));
    ASSERT_EQ(fetched.code, CURLE_OK) << fetched.error;
    EXPECT_NE(fetched.body.find("Subject: Team list " + c.messageId), std::string::npos) << fetched.body;
  }

  // A message put straight into the Maildir is seen too.
  S().DropMessage("carol", Mail("dave@example.org", "carol@example.org", "Dropped", "<dropped.1@example.org>"));
  Request search = As("carol", S().ImapsUrl() + "/INBOX");
  search.customRequest = "UID SEARCH HEADER Message-ID \"<dropped.1@example.org>\"";
  CurlResult found = Perform(search);
  ASSERT_EQ(found.code, CURLE_OK) << found.error;
  EXPECT_EQ(SearchHits(found.body).size(), 1u) << found.body;
}

TEST_F(MailServersTest, RefusalsAreReported) {
  struct Case {
    const char* what;
    Request request;
    CURLcode code;
    long response;  // 0: not checked
  };
  auto wrongPassword = [&](Request r) {
    r.password = "not-" + r.password;
    return r;
  };
  auto toSomeone = [&](Request r, const std::string& rcpt) {
    r.from = S().Address(r.user);
    r.rcpts = {rcpt};
    r.message = Mail(r.from, rcpt, "Refused", "<refused@example.org>");
    return r;
  };
  auto plain = [](Request r) {
    r.requireTls = false;
    return r;
  };
  auto systemCa = [](Request r) {
    r.caFile.reset();
    return r;
  };
  const Case cases[] = {
      {"imaps, wrong password", wrongPassword(As("alice", S().ImapsUrl() + "/INBOX?ALL")), CURLE_LOGIN_DENIED, 0},
      {"imap STARTTLS, wrong password", wrongPassword(As("alice", S().ImapUrl() + "/INBOX?ALL")),
       CURLE_LOGIN_DENIED, 0},
      {"smtp STARTTLS, wrong password", wrongPassword(toSomeone(As("alice", S().SmtpUrl()), "bob@example.org")),
       CURLE_LOGIN_DENIED, 535},
      {"smtps, wrong password", wrongPassword(toSomeone(As("alice", S().SmtpsUrl()), "bob@example.org")),
       CURLE_LOGIN_DENIED, 535},
      {"smtp, unknown local recipient", toSomeone(As("alice", S().SmtpUrl()), "nobody@example.org"),
       CURLE_SEND_ERROR, 550},
      {"smtps, foreign recipient", toSomeone(As("alice", S().SmtpsUrl()), "bob@example.net"), CURLE_SEND_ERROR,
       550},
      {"smtp without STARTTLS", plain(toSomeone(As("alice", S().SmtpUrl()), "bob@example.org")),
       CURLE_SEND_ERROR, 530},
      {"imaps, certificate not trusted", systemCa(As("alice", S().ImapsUrl() + "/INBOX?ALL")),
       CURLE_PEER_FAILED_VERIFICATION, 0},
      {"smtps, certificate not trusted", systemCa(toSomeone(As("alice", S().SmtpsUrl()), "bob@example.org")),
       CURLE_PEER_FAILED_VERIFICATION, 0},
  };
  const size_t before = S().ReadMessages("bob").size();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CurlResult r = Perform(c.request);
    EXPECT_EQ(r.code, c.code) << curl_easy_strerror(r.code) << ": " << r.error;
    if (c.response != 0) {
      EXPECT_EQ(r.response, c.response);
    }
  }
  EXPECT_EQ(S().ReadMessages("bob").size(), before) << "a refused send delivered something";

  // nobox logs in but has no INBOX.
  CurlResult r = Perform(As("nobox", S().ImapsUrl() + "/INBOX?ALL"));
  EXPECT_NE(r.code, CURLE_OK);
  EXPECT_EQ(Perform(As("nobox", S().ImapsUrl() + "/")).code, CURLE_OK) << "nobox cannot log in";
}

// The uid of a process (its real, effective, saved and file uid all), from /proc.
std::vector<long> Uids(const fs::path& proc) {
  std::ifstream status(proc / "status");
  std::vector<long> uids;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Uid:", 0) == 0) {
      std::istringstream in(line.substr(4));
      for (long u; in >> u;) uids.push_back(u);
    }
  }
  return uids;
}

TEST_F(MailServersTest, LoginWorksAndLoginAndAuthProcessesAreNotRoot) {
  for (const auto& base : {S().ImapsUrl(), S().ImapUrl()}) {
    SCOPED_TRACE(base);
    CurlResult r = Perform(As("alice", base + "/INBOX?ALL"));
    EXPECT_EQ(r.code, CURLE_OK) << r.error;
    EXPECT_NE(r.body.find("* SEARCH"), std::string::npos) << r.body;
  }

  // A connection that stays open keeps an imap-login process alive.
  struct Socket {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ~Socket() {
      if (fd >= 0) ::close(fd);
    }
  } conn;
  const int fd = conn.fd;
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(S().ImapPort()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  char greeting[256];
  ASSERT_GT(::read(fd, greeting, sizeof greeting), 0);

  const std::string prefix = S().InstanceName() + "/";
  std::vector<std::string> seen;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "cmdline");
    std::string title;
    if (!std::getline(in, title, '\0') || title.rfind(prefix, 0) != 0) continue;
    std::string service = title.substr(prefix.size());
    service = service.substr(0, service.find_first_of(" :"));
    if (service != "imap-login" && service != "auth" && service != "auth-worker") continue;
    seen.push_back(service);
    auto uids = Uids(entry.path());
    ASSERT_FALSE(uids.empty()) << entry.path();
    for (long u : uids) EXPECT_NE(u, 0) << service << " runs as root (" << entry.path() << ")";
  }
  EXPECT_NE(std::find(seen.begin(), seen.end(), "imap-login"), seen.end()) << "no imap-login process found";
  EXPECT_NE(std::find(seen.begin(), seen.end(), "auth"), seen.end()) << "no auth process found";

  // The SMTP server dropped root too once it listened.
  auto smtp = Uids(fs::path("/proc") / std::to_string(S().SmtpPid()));
  ASSERT_FALSE(smtp.empty());
  for (long u : smtp) EXPECT_NE(u, 0) << "the SMTP server runs as root";
}

}  // namespace
}  // namespace host
