// Kavrix behind Debian's nginx, with the repository's example
// configurations: nginx ends TLS on one port and carries every request of a
// session, its channel included, to the instance that owns it.  Two named
// instances behind one nginx both get sessions, and every browser reaches
// its own.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kvx_browser.h"
#include "kvx_test.h"

using namespace kvxtest;

namespace {

const std::string kExamples = std::string(KVX_SOURCE_DIR) + "/dist/nginx/";

TEST(Nginx, TwoInstancesBehindOneProxyRouteEverySessionHome) {
  ServerOptions eastOptions, westOptions;
  eastOptions.args = {"-p", "0", "--instance", "east", "--trusted-proxies", "127.0.0.1"};
  westOptions.args = {"-p", "0", "--instance", "west", "--trusted-proxies", "127.0.0.1"};
  eastOptions.tls = true;  // for the certificates nginx serves
  KavrixServer east(eastOptions), west(westOptions);
  ASSERT_GT(east.port(), 0);
  ASSERT_GT(west.port(), 0);
  NginxProxy nginx(kExamples + "kavrix-two-instances.conf", {{8081, east.port()}, {8082, west.port()}},
                   east.dir() + "/certs");
  if (nginx.port() == 0 && nginx.error.rfind("needs nginx", 0) == 0) GTEST_SKIP() << nginx.error;
  ASSERT_GT(nginx.port(), 0) << nginx.error;
  TlsOptions tls;
  tls.enabled = true;

  std::vector<std::unique_ptr<TestBrowser>> browsers;
  std::set<std::string> instances;
  for (int i = 0; i < 6; i++) {
    auto b = std::make_unique<TestBrowser>();
    b->tls = tls;
    ASSERT_TRUE(b->NewSession(nginx.port(), "device-" + std::to_string(i))) << nginx.Log();
    instances.insert(b->sessionId.substr(0, b->sessionId.find('-')));
    const std::string config = "{\"kcf\":{\"lines\":24,\"col\":80,\"user\":\"user" + std::to_string(i) +
                               "\"},\"connectToHost\":false}";
    ASSERT_EQ(EnvelopeCode(b->PostConfig(config).body), 0) << b->sessionId << "\n" << nginx.Log();
    browsers.push_back(std::move(b));
  }
  EXPECT_EQ(instances, (std::set<std::string>{"east", "west"}))
      << "the sessions did not land on both instances";

  for (int i = 0; i < 6; i++) {
    TestBrowser& b = *browsers[i];
    SCOPED_TRACE(b.sessionId);
    // The channel, through nginx (TLS) and the owning instance's relay.
    ASSERT_TRUE(b.Attach()) << nginx.Log();
    ASSERT_TRUE(b.Send(KVX_CLIENT_ACTION_REFRESH));
    ASSERT_TRUE(b.Pump([&] { return b.screen.updates > 0; })) << b.Describe();
    EXPECT_EQ(JsonText(b.GetConfigValues("[\"user\"]").body, "content.user"), "user" + std::to_string(i));
    // The page asks whether its session lives with the session named, so
    // that the question reaches the instance that knows.
    HttpResponse list = PostJson(nginx.port(), "/list_sessions?session=" + b.sessionId,
                                 "{\"deviceId\":\"device-" + std::to_string(i) + "\"}", tls);
    EXPECT_NE(list.body.find(b.sessionId), std::string::npos) << list.body;
  }
  // Each instance knows only its own sessions.
  for (auto& b : browsers) {
    KavrixServer& owner = b->sessionId.rfind("east-", 0) == 0 ? east : west;
    KavrixServer& other = &owner == &east ? west : east;
    EXPECT_EQ(EnvelopeCode(PostJson(owner.port(), "/get_config_values?session=" + b->sessionId, "[]").body),
              0);
    EXPECT_EQ(EnvelopeCode(PostJson(other.port(), "/get_config_values?session=" + b->sessionId, "[]").body),
              7);
  }
}

}  // namespace
