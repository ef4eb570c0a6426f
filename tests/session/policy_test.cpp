// The connection policy's lists: kinds, host entries (names, wildcards,
// addresses, CIDR ranges, ports, IPv6 in brackets) and the check of a host
// by name and by resolved address, with the address to dial.
#include "policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Policy, KindLists) {
  struct Case {
    std::string text;
    bool ok;
    uint32_t mask;
  };
  const Case cases[] = {
      {"shell", true, KVX_KIND_SHELL},
      {"telnet, ssh", true, KVX_KIND_TELNET | KVX_KIND_SSH},
      {"telnet-tls,telnet-starttls", true, KVX_KIND_TELNET_TLS | KVX_KIND_TELNET_STARTTLS},
      {"shell,telnet,telnet-tls,telnet-starttls,ssh", true, KVX_KIND_ALL},
      {"", false, 0},
      {" , ", false, 0},
      {"Shell", false, 0},
      {"ssh,rlogin", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t mask = 0;
    std::string error;
    EXPECT_EQ(kvx_policy_parse_kinds(c.text, &mask, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(mask, c.mask) << c.text;
    } else {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
  EXPECT_EQ(kvx_policy_kind_of(7), KVX_KIND_SHELL);
  EXPECT_EQ(kvx_policy_kind_of(5), KVX_KIND_SSH);
  EXPECT_EQ(kvx_policy_kind_of(8), KVX_KIND_TELNET_TLS);
  EXPECT_EQ(kvx_policy_kind_of(4), KVX_KIND_TELNET_STARTTLS);
  EXPECT_EQ(kvx_policy_kind_of(0), KVX_KIND_TELNET);
  EXPECT_EQ(kvx_policy_kind_of(3), KVX_KIND_TELNET);
}

TEST(Policy, HostEntriesParseOrNameTheBadOne) {
  const char* good[] = {"host.example", "Host.Example.:23", "*.example",          "*",   "*:22",
                        "10.1.2.3",     "10.0.0.0/8:23",    "0.0.0.0/0",          "::1", "fd00::/8",
                        "[::1]:22",     "[fd00::/8]:2323",  "under_score.example"};
  for (const char* text : good) {
    std::vector<kvx_policy_host> hosts;
    std::string error;
    EXPECT_TRUE(kvx_policy_parse_hosts(text, &hosts, &error)) << text << ": " << error;
    EXPECT_EQ(hosts.size(), 1u) << text;
  }
  const char* bad[] = {"",          "host:0",   "host:65536", "host:23x",      "10.0.0.0/33",
                       "10.0.0.0/", "[::1",     "[::1]x",     "[10.0.0.1]:22", "a*.example",
                       "*.",        "host:2:3", "host/8",     "fd00::/129",    "bad!name"};
  for (const char* text : bad) {
    std::vector<kvx_policy_host> hosts;
    std::string error;
    EXPECT_FALSE(kvx_policy_parse_hosts(text, &hosts, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::vector<kvx_policy_host> hosts;
  std::string error;
  ASSERT_TRUE(kvx_policy_parse_hosts("a.example:23, 10.0.0.0/8 [fd00::1]:22", &hosts, &error)) << error;
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].name, "a.example");
  EXPECT_EQ(hosts[0].port, 23);
  EXPECT_EQ(hosts[1].range.prefix, 8);
  EXPECT_EQ(hosts[1].port, 0);
  EXPECT_EQ(hosts[2].range.prefix, 128);
  EXPECT_EQ(hosts[2].port, 22);
  EXPECT_FALSE(kvx_policy_parse_hosts("ok.example, x:99999", &hosts, &error));
  EXPECT_NE(error.find("x:99999"), std::string::npos) << error;
}

TEST(Policy, HostsAreAdmittedByNameOrResolvedAddressAndPort) {
  struct Case {
    const char* list;
    const char* host;
    int port;
    bool allowed;
    const char* dial;  // the address admitted
  };
  const Case cases[] = {
      // Addresses and ranges, literal hosts.
      {"10.0.0.0/8", "10.200.3.4", 23, true, "10.200.3.4"},
      {"10.0.0.0/8", "11.0.0.1", 23, false, ""},
      {"10.1.2.3", "10.1.2.3", 2323, true, "10.1.2.3"},
      {"10.1.2.3:23", "10.1.2.3", 2323, false, ""},
      {"10.1.2.3:23", "10.1.2.3", 23, true, "10.1.2.3"},
      {"192.168.0.0/23", "192.168.1.255", 23, true, "192.168.1.255"},
      {"192.168.0.0/23", "192.168.2.0", 23, false, ""},
      {"0.0.0.0/0:22", "203.0.113.9", 22, true, "203.0.113.9"},
      // A name resolves to an address the ranges do not hold: refused,
      // however the name is written.
      {"10.0.0.0/8", "localhost", 23, false, ""},
      {"10.0.0.0/8", "LOCALHOST.", 23, false, ""},
      // ... or do hold.
      {"127.0.0.0/8:23", "localhost", 23, true, "127.0.0.1"},
      {"127.0.0.0/8:23", "localhost", 24, false, ""},
      // Names, with wildcards, in any case.
      {"localhost", "LocalHost", 23, true, "127.0.0.1"},
      {"localhost:22", "localhost", 23, false, ""},
      {"*", "localhost", 9, true, "127.0.0.1"},
      {"*:22", "localhost", 23, false, ""},
      {"*.localhost", "localhost", 23, false, ""},
      // A name entry does not admit an address literal, nor the reverse.
      {"localhost", "127.0.0.1", 23, false, ""},
      // IPv6 entries never admit an IPv4 host.
      {"::/0", "127.0.0.1", 23, false, ""},
  };
  for (const Case& c : cases) {
    std::vector<kvx_policy_host> hosts;
    std::string error;
    ASSERT_TRUE(kvx_policy_parse_hosts(c.list, &hosts, &error)) << c.list << ": " << error;
    kvx_policy_verdict v = kvx_policy_check_host(hosts, c.host, c.port);
    EXPECT_EQ(v.allowed, c.allowed) << c.list << " / " << c.host << ":" << c.port;
    EXPECT_EQ(v.dial, c.dial) << c.list << " / " << c.host << ":" << c.port;
  }
  std::vector<kvx_policy_host> hosts;
  std::string error;
  ASSERT_TRUE(kvx_policy_parse_hosts("10.0.0.0/8", &hosts, &error));
  kvx_policy_verdict v = kvx_policy_check_host(hosts, "no-such-host.invalid", 23);
  EXPECT_FALSE(v.allowed);
  EXPECT_FALSE(v.resolved);
}

TEST(Policy, AddressRanges) {
  std::vector<kvx_policy_range> ranges;
  std::string error;
  ASSERT_TRUE(kvx_policy_parse_ranges("127.0.0.1, 10.0.0.0/8 fd00::/8", &ranges, &error)) << error;
  struct Case {
    const char* address;
    bool inside;
  };
  const Case cases[] = {{"127.0.0.1", true},       {"127.0.0.2", false}, {"10.9.9.9", true},
                        {"fd12::1", true},         {"fe80::1", false},   {"::ffff:10.1.1.1", true},
                        {"::ffff:11.1.1.1", false}};
  for (const Case& c : cases) {
    kvx_policy_range a;
    ASSERT_TRUE(kvx_policy_parse_address(c.address, &a)) << c.address;
    EXPECT_EQ(kvx_policy_ranges_contain(ranges, a), c.inside) << c.address;
  }
  EXPECT_FALSE(kvx_policy_parse_ranges("127.0.0.1:80", &ranges, &error));
  EXPECT_FALSE(kvx_policy_parse_ranges("proxy.example", &ranges, &error));
}

}  // namespace
