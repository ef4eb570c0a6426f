// Connection policy of a server's sessions: which connection kinds they may
// use and which hosts and ports telnet and SSH may reach, written by the
// admin as lists on the command line; and the address ranges those lists
// (and the list of trusted proxies) are made of.  A host is admitted by its
// name or by the address it resolves to; the address that was checked is
// the one dialled, so that a second lookup cannot lead elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An IPv4 or IPv6 address with a prefix length: one address (prefix 32 or
// 128) or a CIDR range.
struct kvx_policy_range {
  int family = 0;  // AF_INET or AF_INET6
  uint8_t addr[16] = {};
  int prefix = 0;
};

// One entry of a host list: a name ("host.example", "*.example" for every
// name below it, "*" for any host) or an address range, with a port or 0
// for any port.
struct kvx_policy_host {
  std::string name;  // lower case without a final dot; empty for an address entry
  kvx_policy_range range;
  int port = 0;
};

// Connection kinds, as bits of a kind mask.
enum : uint32_t {
  KVX_KIND_SHELL = 1u << 0,
  KVX_KIND_TELNET = 1u << 1,
  KVX_KIND_TELNET_TLS = 1u << 2,
  KVX_KIND_TELNET_STARTTLS = 1u << 3,
  KVX_KIND_SSH = 1u << 4,
  KVX_KIND_ALL = (1u << 5) - 1,
};

// The kind bit of a "commtype" setting (7 shell, 5 SSH, 8 telnet over TLS,
// 4 telnet with START_TLS, anything else telnet).
uint32_t kvx_policy_kind_of(int commtype);
// "shell", "telnet", ... for one kind bit.
const char* kvx_policy_kind_name(uint32_t kind);
// What a person reads: "Local shell", "Telnet", "SSH", ...
const char* kvx_policy_kind_label(uint32_t kind);

// "shell,ssh": the mask of the kinds named; false with `error` set for an
// unknown name or an empty list.
bool kvx_policy_parse_kinds(const std::string& text, uint32_t* mask, std::string* error);
// A comma- or space-separated host list; false with `error` naming the
// first entry that cannot be read.
bool kvx_policy_parse_hosts(const std::string& text, std::vector<kvx_policy_host>* hosts, std::string* error);
// A list of addresses and CIDR ranges without ports (trusted proxies).
bool kvx_policy_parse_ranges(const std::string& text, std::vector<kvx_policy_range>* ranges,
                             std::string* error);

// One address as text (IPv4 dotted or IPv6); false when it is not one.
bool kvx_policy_parse_address(const std::string& text, kvx_policy_range* address);
bool kvx_policy_range_contains(const kvx_policy_range& range, const kvx_policy_range& address);
bool kvx_policy_ranges_contain(const std::vector<kvx_policy_range>& ranges, const kvx_policy_range& address);
std::string kvx_policy_address_text(const kvx_policy_range& address);

// The outcome of checking a host against a host list.
struct kvx_policy_verdict {
  bool allowed = false;
  bool resolved = true;  // false: the name has no IPv4 address (nothing to dial)
  std::string dial;      // the IPv4 address to dial (empty when not allowed or not resolved)
};

// Checks `host` and `port` against `hosts`: admitted when a name entry
// matches the name, or when an IPv4 address the name resolves to (the
// address itself for a literal) lies in an address entry; the port must
// match the entry's.  The address to dial is the one that was admitted.
kvx_policy_verdict kvx_policy_check_host(const std::vector<kvx_policy_host>& hosts, const std::string& host,
                                         int port);

// The session's own policy, set from the command line at start; by default
// every kind and any host.
struct kvx_policy_t {
  uint32_t kinds = KVX_KIND_ALL;
  bool anyHost = true;
  std::vector<kvx_policy_host> hosts;
};
kvx_policy_t& kvx_policy();
