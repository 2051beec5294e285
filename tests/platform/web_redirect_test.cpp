// Redirects of the libcurl web client: followed hop by hop by the client
// itself, never to a scheme other than http(s) nor from https down to http,
// and for FetchBytesConfined only to addresses the caller accepts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/web.hpp"
#include "support/fake_web.hpp"
#include "support/loopback_http.hpp"
#include "support/scoped_env.hpp"

namespace platform {
namespace {

using Reply = LoopbackHttpServer::Reply;

Reply Ok(const std::string& body) {
  Reply r;
  r.body = body;
  return r;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// The text of the WebError that `fetch` throws ("" when it throws none).
template <class F>
std::string ErrorOf(F&& fetch) {
  try {
    fetch();
  } catch (const WebError& e) {
    return e.what();
  }
  return {};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SafeRedirect, NeverToOtherSchemesNorDownFromHttps) {
  struct Case {
    const char* from;
    const char* to;
    bool safe;
  };
  const Case cases[] = {
      {"http://a.example/x", "http://b.example/y", true},
      {"http://a.example/x", "https://b.example/y", true},
      {"https://a.example/x", "https://b.example/y", true},
      {"https://a.example/x", "https://a.example:8443/y", true},
      {"https://a.example/x", "http://a.example/x", false},
      {"https://a.example/x", "http://b.example/y", false},
      {"https://a.example/x", "HTTP://a.example/x", false},
      {"HTTPS://a.example/x", "http://a.example/x", false},
      {"HTTPS://a.example/x", "HTTPS://a.example/y", true},
      {"http://a.example/x", "HtTpS://a.example/y", true},
      {"http://a.example/x", "ftp://a.example/y", false},
      {"https://a.example/x", "ftp://a.example/y", false},
      {"http://a.example/x", "file:///etc/passwd", false},
      {"http://a.example/x", "https-evil://a.example/y", false},
      {"http://a.example/x", "/relative", false},
      {"http://a.example/x", "", false},
      {"https://a.example/x", "//b.example/y", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSafeRedirect(c.from, c.to), c.safe) << c.from << " -> " << c.to;
  }
}

TEST(FakeWebClientRedirects, FollowsAsTheRealClientDoes) {
  FakeWebClient web;
  web.SetRedirect("https://v.example/a", "https://v.example/b");
  web.SetBytes("https://v.example/b", {1, 2});
  web.SetRedirect("https://v.example/down", "http://v.example/b");
  web.SetBytes("http://v.example/b", {3});
  web.SetRedirect("https://v.example/away", "https://w.example/b");
  web.SetBytes("https://w.example/b", {4});
  const AddressCheck onV = [](const std::string& a) { return a.rfind("https://v.example/", 0) == 0; };

  EXPECT_EQ(web.FetchBytesConfined("https://v.example/a", onV), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(web.FetchBytes("https://v.example/away"), std::vector<std::uint8_t>{4});
  EXPECT_TRUE(Contains(ErrorOf([&] { web.FetchBytes("https://v.example/down"); }), "http://v.example/b"));
  EXPECT_TRUE(Contains(ErrorOf([&] { web.FetchBytesConfined("https://v.example/away", onV); }), "https://w.example/b"));
  EXPECT_TRUE(Contains(ErrorOf([&] { web.FetchBytesConfined("https://w.example/b", onV); }), "https://w.example/b"));
  // A refused address is never asked for.
  const std::vector<std::string> asked = {"https://v.example/a",    "https://v.example/b",  "https://v.example/away",
                                          "https://w.example/b",    "https://v.example/down",
                                          "https://v.example/away"};
  EXPECT_EQ(web.Requests(), asked);
}

class WebRedirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running());
    ASSERT_TRUE(other_.Running());
  }
  static CurlWebClient::Options Options() {
    CurlWebClient::Options o;
    o.connectTimeoutSeconds = 5;
    o.timeoutSeconds = 20;
    o.lowSpeedSeconds = 10;
    return o;
  }
  // "http://localhost:<port>": the same server under another host name.
  std::string LocalhostBase() const { return "http://localhost:" + std::to_string(server_.Port()); }

  // Loopback requests never go through a proxy that the environment may name.
  ScopedEnv noProxy_{"no_proxy", "127.0.0.1,localhost"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "127.0.0.1,localhost"};
  LoopbackHttpServer server_;
  LoopbackHttpServer other_;
};

TEST_F(WebRedirectTest, PlainFetchesFollowRedirectsToOtherHosts) {
  CurlWebClient web(Options());
  server_.Set("/page", Reply::Redirect("/moved"));
  server_.Set("/moved", Reply::Redirect(other_.Base() + "/elsewhere", "301 Moved Permanently"));
  other_.Set("/elsewhere", Reply::Redirect(LocalhostBase() + "/last", "307 Temporary Redirect"));
  server_.Set("/last", Ok("the page"));
  EXPECT_EQ(web.FetchText(server_.Base() + "/page"), "the page");
  EXPECT_EQ(web.FetchTextWithin(server_.Base() + "/page", 10), "the page");
  EXPECT_EQ(web.FetchBytes(server_.Base() + "/page"), Bytes("the page"));
  // The bodies of the redirects themselves are not part of the answer.
  EXPECT_EQ(server_.Requests(), (std::vector<std::string>{"/page", "/moved", "/last", "/page", "/moved", "/last",
                                                          "/page", "/moved", "/last"}));
}

TEST_F(WebRedirectTest, ARedirectWithoutLocationIsTheAnswer) {
  CurlWebClient web(Options());
  Reply moved;
  moved.status = "302 Found";
  moved.body = "nowhere to go";
  server_.Set("/page", moved);
  EXPECT_EQ(web.FetchText(server_.Base() + "/page"), "nowhere to go");
}

TEST_F(WebRedirectTest, ConfinedFetchRefusesAnotherHostBeforeAskingIt) {
  CurlWebClient web(Options());
  std::vector<std::string> checked;
  const std::string base = server_.Base();
  const AddressCheck onServer = [&](const std::string& a) {
    checked.push_back(a);
    return a.rfind(base + "/", 0) == 0;
  };
  server_.Set("/Update.exe", Reply::Redirect(other_.Base() + "/Update.exe"));
  other_.Set("/Update.exe", Ok("swapped"));
  server_.Set("/named", Reply::Redirect(LocalhostBase() + "/real.exe"));
  server_.Set("/real.exe", Ok("swapped too"));

  for (const std::string& target : {other_.Base() + "/Update.exe", LocalhostBase() + "/real.exe"}) {
    SCOPED_TRACE(target);
    const std::string start = target == LocalhostBase() + "/real.exe" ? base + "/named" : base + "/Update.exe";
    checked.clear();
    const std::string error = ErrorOf([&] { web.FetchBytesConfined(start, onServer); });
    // One line that names the refused address.
    EXPECT_TRUE(Contains(error, "Refused the redirect from " + start + " to " + target)) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(checked, (std::vector<std::string>{start, target}));
  }
  EXPECT_TRUE(other_.Requests().empty());
  EXPECT_EQ(server_.Requests(), (std::vector<std::string>{"/Update.exe", "/named"}));

  // The first address itself is checked too.
  const std::string error = ErrorOf([&] { web.FetchBytesConfined(other_.Base() + "/Update.exe", onServer); });
  EXPECT_TRUE(Contains(error, other_.Base() + "/Update.exe")) << error;
  EXPECT_TRUE(other_.Requests().empty());
  // And a fetch without a rule fetches nothing.
  EXPECT_FALSE(ErrorOf([&] { web.FetchBytesConfined(base + "/real.exe", AddressCheck()); }).empty());
}

TEST_F(WebRedirectTest, ConfinedFetchFollowsRedirectsItAccepts) {
  CurlWebClient web(Options());
  std::vector<std::string> checked;
  const std::string base = server_.Base();
  const AddressCheck onServer = [&](const std::string& a) {
    checked.push_back(a);
    return a.rfind(base + "/", 0) == 0;
  };
  server_.Set("/files/Update.exe", Reply::Redirect("v2/Update.exe"));
  server_.Set("/files/v2/Update.exe", Reply::Redirect(base + "/files/v3/Update.exe", "301 Moved Permanently"));
  server_.Set("/files/v3/Update.exe", Ok("the installer"));
  EXPECT_EQ(web.FetchBytesConfined(base + "/files/Update.exe", onServer), Bytes("the installer"));
  // Each hop before it was followed, then the address the bytes came from.
  EXPECT_EQ(checked, (std::vector<std::string>{base + "/files/Update.exe", base + "/files/v2/Update.exe",
                                               base + "/files/v3/Update.exe", base + "/files/v3/Update.exe"}));
}

TEST_F(WebRedirectTest, RedirectsAreCountedAndTimed) {
  auto few = Options();
  few.maxRedirects = 2;
  CurlWebClient web(few);
  server_.Set("/a", Reply::Redirect("/b"));
  server_.Set("/b", Reply::Redirect("/c"));
  server_.Set("/c", Reply::Redirect("/d"));
  server_.Set("/d", Ok("end"));
  EXPECT_EQ(web.FetchText(server_.Base() + "/b"), "end");
  EXPECT_TRUE(Contains(ErrorOf([&] { web.FetchText(server_.Base() + "/a"); }), "more than 2 redirects"));

  // The limit of FetchTextWithin covers all the hops together.
  CurlWebClient patient(Options());
  Reply slow = Ok("late");
  slow.delay = std::chrono::milliseconds(3000);
  server_.Set("/slow", slow);
  server_.Set("/to-slow", Reply::Redirect("/slow"));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(ErrorOf([&] { patient.FetchTextWithin(server_.Base() + "/to-slow", 1); }).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2800));
}

// An https server whose redirects lead down to the plain http server.
class HttpsRedirectTest : public WebRedirectTest {
 protected:
  void SetUp() override {
    WebRedirectTest::SetUp();
    ASSERT_TRUE(https_.Running()) << https_.Error();
  }
  CurlWebClient::Options TrustingOptions() const {
    auto o = Options();
    o.caFile = https_.CaFile();
    return o;
  }
  LoopbackHttpsServer https_;
};

TEST_F(HttpsRedirectTest, NoFetchGoesFromHttpsDownToHttp) {
  CurlWebClient web(TrustingOptions());
  const std::string down = server_.Base() + "/Update.exe";
  server_.Set("/Update.exe", Ok("plain"));
  https_.Set("/Update.exe", Ok("over tls"));
  https_.Set("/down", Reply::Redirect(down));
  https_.Set("/up", Reply::Redirect(https_.Base() + "/Update.exe"));
  https_.Set("/named", Reply::Redirect("https://localhost:" + std::to_string(https_.Port()) + "/Update.exe"));

  // https itself works, and redirects within https are followed (to another
  // host name too, for the plain fetches).
  EXPECT_EQ(web.FetchText(https_.Base() + "/Update.exe"), "over tls");
  EXPECT_EQ(web.FetchText(https_.Base() + "/up"), "over tls");
  EXPECT_EQ(web.FetchText(https_.Base() + "/named"), "over tls");
  // Without the certificate nothing is fetched.
  CurlWebClient distrusting(Options());
  EXPECT_FALSE(ErrorOf([&] { distrusting.FetchText(https_.Base() + "/Update.exe"); }).empty());

  const AddressCheck anything = [](const std::string&) { return true; };
  const std::string refused = "Refused the redirect from " + https_.Base() + "/down to " + down;
  for (const std::string& error : {ErrorOf([&] { web.FetchText(https_.Base() + "/down"); }),
                                   ErrorOf([&] { web.FetchTextWithin(https_.Base() + "/down", 10); }),
                                   ErrorOf([&] { web.FetchBytes(https_.Base() + "/down"); }),
                                   ErrorOf([&] { web.FetchBytesConfined(https_.Base() + "/down", anything); })}) {
    EXPECT_TRUE(Contains(error, refused)) << error;
    EXPECT_TRUE(Contains(error, "from https down to http")) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  EXPECT_TRUE(server_.Requests().empty());

  // Plain http may go up to https.
  server_.Set("/up", Reply::Redirect(https_.Base() + "/Update.exe"));
  EXPECT_EQ(web.FetchText(server_.Base() + "/up"), "over tls");
}

}  // namespace
}  // namespace platform
