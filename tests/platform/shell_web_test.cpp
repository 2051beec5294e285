#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/shell.hpp"
#include "platform/web.hpp"
#include "support/fake_web.hpp"
#include "support/recording_shell.hpp"
#include "support/scoped_env.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

// --- shell -----------------------------------------------------------------------

TEST(RecordingShell, RecordsRequestsAndAnswersAsConfigured) {
  RecordingShell shell;
  EXPECT_TRUE(shell.OpenDocument("/inst/Help.chm", "open", "/inst/", ShowMode::NormalFocus));
  shell.SetResult(false);
  EXPECT_FALSE(shell.Run("/inst/Update.exe", {"/quiet"}, ShowMode::MinimizedFocus));
  ASSERT_EQ(shell.Requests().size(), 2u);
  const auto& open = shell.Requests()[0];
  EXPECT_EQ(open.kind, RecordingShell::Request::Kind::kOpenDocument);
  EXPECT_EQ(open.path, "/inst/Help.chm");
  EXPECT_EQ(open.verb, "open");
  EXPECT_EQ(open.workingDir, "/inst/");
  const auto& run = shell.Requests()[1];
  EXPECT_EQ(run.kind, RecordingShell::Request::Kind::kRun);
  EXPECT_EQ(run.path, "/inst/Update.exe");
  EXPECT_THAT(run.args, ::testing::ElementsAre("/quiet"));
  EXPECT_EQ(run.mode, ShowMode::MinimizedFocus);
  EXPECT_EQ(static_cast<int>(ShowMode::MinimizedFocus), 2);
  shell.Clear();
  EXPECT_TRUE(shell.Requests().empty());
}

class SystemShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("plexisync-shell-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    document_ = dir_ / "Help.chm";
    std::ofstream(document_) << "help";
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  fs::path document_;
};

TEST_F(SystemShellTest, OpensExistingDocumentsOnly) {
  // "true" stands in for the desktop's opener: it accepts and exits.
  SystemShell shell("true");
  EXPECT_TRUE(shell.OpenDocument(document_.string(), "open", dir_.string()));
  EXPECT_TRUE(shell.OpenDocument(document_.string(), "", "/no/such/dir"));
  EXPECT_FALSE(shell.OpenDocument((dir_ / "Missing.chm").string()));
  EXPECT_FALSE(shell.OpenDocument(""));
  EXPECT_FALSE(shell.OpenDocument(document_.string(), "print"));
  SystemShell noOpener("/no/such/opener");
  EXPECT_FALSE(noOpener.OpenDocument(document_.string()));
}

TEST_F(SystemShellTest, OpensWebAddressesInTheBrowser) {
  // A web address is no file: it goes to the opener without the existence check.
  SystemShell shell("true");
  EXPECT_TRUE(shell.OpenDocument("https://www.quorvane.example/download.asp?catID=3&fr=pxs"));
  EXPECT_TRUE(shell.OpenDocument("http://127.0.0.1:8080/download.asp"));
  EXPECT_FALSE(shell.OpenDocument("ftp://www.quorvane.example/file"));
  EXPECT_FALSE(shell.OpenDocument("https://www.quorvane.example/", "print"));
}

TEST_F(SystemShellTest, RunsProgramsThatCanStart) {
  SystemShell shell;
  EXPECT_TRUE(shell.Run("true"));
  EXPECT_TRUE(shell.Run("sh", {"-c", "exit 3"}));  // started; its exit status is not awaited
  EXPECT_FALSE(shell.Run((dir_ / "Update.exe").string()));
  EXPECT_FALSE(shell.Run(document_.string()));  // exists but is not executable
  EXPECT_FALSE(shell.Run(""));
}

// --- web: vendor address and fake client ------------------------------------------

TEST(FakeWebClient, AnswersFromItsTable) {
  FakeWebClient web;
  web.SetText("https://v.example/_check_update.asp?ver=1.0.0", "0");
  web.SetBytes("https://v.example/Update.exe", {0x4D, 0x5A, 0x00, 0xFF});
  web.SetError("https://v.example/broken", "Server error", 500);
  EXPECT_EQ(web.FetchText("https://v.example/_check_update.asp?ver=1.0.0"), "0");
  EXPECT_THAT(web.FetchBytes("https://v.example/Update.exe"),
              ::testing::ElementsAre(0x4D, 0x5A, 0x00, 0xFF));
  try {
    web.FetchText("https://v.example/broken");
    ADD_FAILURE() << "no error";
  } catch (const WebError& e) {
    EXPECT_EQ(e.Status(), 500);
  }
  EXPECT_THROW(web.FetchBytes("https://elsewhere.example/"), WebError);
  EXPECT_EQ(web.Requests().size(), 4u);
  EXPECT_EQ(web.Requests().back(), "https://elsewhere.example/");
}

// --- web: the libcurl client against a loopback server ---------------------------

// A minimal HTTP/1.0 server on 127.0.0.1 with a few fixed pages. Every wait
// is bounded so that a broken client cannot hang the test.
class LoopbackServer {
 public:
  LoopbackServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 8) != 0) {
      ::close(listen_);
      listen_ = -1;
      return;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    if (listen_ >= 0) {
      ::close(listen_);
    }
  }

  bool Running() const { return listen_ >= 0; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  static std::string Binary() { return std::string("MZ\0\x01\xFF\r\n", 7) + std::string(100000, 'x'); }

 private:
  void Serve() {
    for (int served = 0; !stop_ && served < 200;) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        continue;
      }
      const int client = ::accept(listen_, nullptr, nullptr);
      if (client < 0) {
        continue;
      }
      ++served;
      Answer(client);
      ::close(client);
    }
  }

  void Answer(int client) {
    std::string request;
    char buf[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) {
        return;
      }
      const ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n <= 0) {
        return;
      }
      request.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);

    std::string status = "200 OK";
    std::string headers;
    std::string body;
    if (path == "/_check_update.asp?ver=1.0.0") {
      body = "0";
    } else if (path == "/Update.exe") {
      body = Binary();
    } else if (path == "/moved") {
      status = "302 Found";
      headers = "Location: /_check_update.asp?ver=1.0.0\r\n";
    } else if (path == "/loop") {
      status = "302 Found";
      headers = "Location: /loop\r\n";
    } else if (path == "/agent") {
      const std::size_t at = request.find("\r\nUser-Agent: ");
      if (at != std::string::npos) {
        const std::size_t from = at + 14;
        body = request.substr(from, request.find("\r\n", from) - from);
      }
    } else if (path == "/fail") {
      status = "500 Internal Server Error";
      body = "oops";
    } else {
      status = "404 Not Found";
      body = "<html>not here</html>";
    }
    const std::string response = "HTTP/1.0 " + status + "\r\nContent-Type: text/plain\r\n" +
                                 headers + "Content-Length: " + std::to_string(body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < response.size()) {
      const ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class CurlWebClientTest : public ::testing::Test {
 protected:
  // Loopback requests never go through a proxy that the environment may name.
  ScopedEnv noProxy_{"no_proxy", "127.0.0.1,localhost"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "127.0.0.1,localhost"};
  LoopbackServer server_;
  CurlWebClient::Options Options() const {
    CurlWebClient::Options o;
    o.connectTimeoutSeconds = 5;
    o.timeoutSeconds = 20;
    o.lowSpeedSeconds = 10;
    return o;
  }
};

long StatusOf(WebClient& web, const std::string& url) {
  try {
    web.FetchText(url);
  } catch (const WebError& e) {
    return e.Status();
  }
  return -1;
}

TEST_F(CurlWebClientTest, FetchesTextBytesAndFollowsRedirects) {
  ASSERT_TRUE(server_.Running());
  CurlWebClient web(Options());
  EXPECT_EQ(web.FetchText(server_.Url("/_check_update.asp?ver=1.0.0")), "0");
  EXPECT_EQ(web.FetchText(server_.Url("/moved")), "0");
  const auto bytes = web.FetchBytes(server_.Url("/Update.exe"));
  const std::string expected = LoopbackServer::Binary();
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));
}

TEST_F(CurlWebClientTest, SendsTheUserAgentItIsGiven) {
  ASSERT_TRUE(server_.Running());
  CurlWebClient::Options named = Options();
  named.userAgent = "Mail/2.1";
  CurlWebClient web(named);
  EXPECT_EQ(web.FetchText(server_.Url("/agent")), "Mail/2.1");
  CurlWebClient unnamed(Options());
  EXPECT_EQ(unnamed.FetchText(server_.Url("/agent")), "");
}

TEST_F(CurlWebClientTest, FailuresThrowWebError) {
  ASSERT_TRUE(server_.Running());
  CurlWebClient web(Options());
  EXPECT_EQ(StatusOf(web, server_.Url("/missing")), 404);
  EXPECT_EQ(StatusOf(web, server_.Url("/fail")), 500);
  EXPECT_EQ(StatusOf(web, server_.Url("/loop")), 0);  // too many redirects
  EXPECT_EQ(StatusOf(web, "ftp://127.0.0.1/file"), 0);
  EXPECT_EQ(StatusOf(web, "not a url"), 0);

  auto small = Options();
  small.maxBytes = 1000;
  CurlWebClient limited(small);
  EXPECT_THROW(limited.FetchBytes(server_.Url("/Update.exe")), WebError);
  EXPECT_EQ(limited.FetchText(server_.Url("/_check_update.asp?ver=1.0.0")), "0");
}

TEST_F(CurlWebClientTest, ClosedPortIsANetworkError) {
  // A port that was bound and released again has nobody listening.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  const int port = ntohs(addr.sin_port);
  ::close(s);
  CurlWebClient web(Options());
  EXPECT_EQ(StatusOf(web, "http://127.0.0.1:" + std::to_string(port) + "/"), 0);
}

}  // namespace
}  // namespace platform
