// Connection policy: kind masks, host lists with names, addresses, CIDR
// ranges and ports, and the check of a host against such a list by name and
// by resolved address.
#include "policy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

struct KindName {
  uint32_t bit;
  const char* name;
  const char* label;
};

constexpr KindName kKinds[] = {
    {KVX_KIND_SHELL, "shell", "Local shell"},
    {KVX_KIND_TELNET, "telnet", "Telnet"},
    {KVX_KIND_TELNET_TLS, "telnet-tls", "Telnet over TLS"},
    {KVX_KIND_TELNET_STARTTLS, "telnet-starttls", "Telnet with START_TLS"},
    {KVX_KIND_SSH, "ssh", "SSH"},
};

// The entries of a list separated by commas or white space.
std::vector<std::string> policy_split(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ',' || isspace(static_cast<unsigned char>(c))) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool policy_parse_port(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int v = 0;
  for (char c : text) {
    if (!isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 65535) return false;
  *port = v;
  return true;
}

// "addr" or "addr/prefix".
bool policy_parse_range(const std::string& text, kvx_policy_range* range) {
  size_t slash = text.find('/');
  if (!kvx_policy_parse_address(text.substr(0, slash), range)) return false;
  if (slash == std::string::npos) return true;
  const std::string bits = text.substr(slash + 1);
  const int max = range->family == AF_INET ? 32 : 128;
  if (bits.empty() || bits.size() > 3) return false;
  int v = 0;
  for (char c : bits) {
    if (!isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  range->prefix = v;
  return true;
}

std::string policy_lower_name(std::string name) {
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// Letters, digits, '-', '_' and dots; "*" alone or as the first label.
bool policy_valid_name(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  if (name == "*") return true;
  size_t start = name.rfind("*.", 0) == 0 ? 2 : 0;
  if (start == name.size()) return false;
  for (size_t i = start; i < name.size(); i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (!isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

bool policy_parse_host(const std::string& entry, kvx_policy_host* host) {
  std::string part = entry;
  std::string port;
  if (!entry.empty() && entry[0] == '[') {
    size_t close = entry.find(']');
    if (close == std::string::npos) return false;
    part = entry.substr(1, close - 1);
    std::string rest = entry.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      port = rest.substr(1);
      if (!policy_parse_port(port, &host->port)) return false;
    }
    return policy_parse_range(part, &host->range) && host->range.family == AF_INET6;
  }
  size_t colons = static_cast<size_t>(std::count(entry.begin(), entry.end(), ':'));
  if (colons > 1) return policy_parse_range(entry, &host->range);  // a bare IPv6 address or range
  if (colons == 1) {
    size_t colon = entry.find(':');
    part = entry.substr(0, colon);
    if (!policy_parse_port(entry.substr(colon + 1), &host->port)) return false;
  }
  if (part.find('/') != std::string::npos) return policy_parse_range(part, &host->range);
  if (kvx_policy_parse_address(part, &host->range)) return true;
  host->name = policy_lower_name(part);
  // "*." is not "*": a final dot ends a name, it does not make one.
  if (host->name == "*" && part != "*") return false;
  return policy_valid_name(host->name);
}

bool policy_name_matches(const std::string& pattern, const std::string& name) {
  if (pattern == "*") return true;
  if (pattern.rfind("*.", 0) == 0) {
    const std::string suffix = pattern.substr(1);  // ".example"
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  }
  return pattern == name;
}

// The IPv4 addresses of a host: the literal itself, or what the resolver
// answers, in its order.
std::vector<kvx_policy_range> policy_resolve(const std::string& host) {
  std::vector<kvx_policy_range> out;
  kvx_policy_range literal;
  if (kvx_policy_parse_address(host, &literal)) {
    if (literal.family == AF_INET) out.push_back(literal);
    return out;
  }
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return out;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    kvx_policy_range a;
    a.family = AF_INET;
    a.prefix = 32;
    memcpy(a.addr, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, 4);
    out.push_back(a);
  }
  freeaddrinfo(res);
  return out;
}

}  // namespace

uint32_t kvx_policy_kind_of(int commtype) {
  switch (commtype) {
    case 7:
      return KVX_KIND_SHELL;
    case 5:
      return KVX_KIND_SSH;
    case 8:
      return KVX_KIND_TELNET_TLS;
    case 4:
      return KVX_KIND_TELNET_STARTTLS;
    default:
      return KVX_KIND_TELNET;
  }
}

const char* kvx_policy_kind_name(uint32_t kind) {
  for (const KindName& k : kKinds)
    if (k.bit == kind) return k.name;
  return "unknown";
}

const char* kvx_policy_kind_label(uint32_t kind) {
  for (const KindName& k : kKinds)
    if (k.bit == kind) return k.label;
  return "Unknown";
}

bool kvx_policy_parse_kinds(const std::string& text, uint32_t* mask, std::string* error) {
  uint32_t m = 0;
  for (const std::string& name : policy_split(text)) {
    uint32_t bit = 0;
    for (const KindName& k : kKinds)
      if (name == k.name) bit = k.bit;
    if (!bit) {
      *error = "unknown connection kind [" + name + "]";
      return false;
    }
    m |= bit;
  }
  if (!m) {
    *error = "no connection kind named";
    return false;
  }
  *mask = m;
  return true;
}

bool kvx_policy_parse_hosts(const std::string& text, std::vector<kvx_policy_host>* hosts,
                            std::string* error) {
  std::vector<kvx_policy_host> out;
  for (const std::string& entry : policy_split(text)) {
    kvx_policy_host host;
    if (!policy_parse_host(entry, &host)) {
      *error = "cannot read host entry [" + entry + "]";
      return false;
    }
    out.push_back(host);
  }
  if (out.empty()) {
    *error = "no host named";
    return false;
  }
  *hosts = std::move(out);
  return true;
}

bool kvx_policy_parse_ranges(const std::string& text, std::vector<kvx_policy_range>* ranges,
                             std::string* error) {
  std::vector<kvx_policy_range> out;
  for (const std::string& entry : policy_split(text)) {
    kvx_policy_range r;
    if (!policy_parse_range(entry, &r)) {
      *error = "cannot read address [" + entry + "]";
      return false;
    }
    out.push_back(r);
  }
  if (out.empty()) {
    *error = "no address named";
    return false;
  }
  *ranges = std::move(out);
  return true;
}

bool kvx_policy_parse_address(const std::string& text, kvx_policy_range* address) {
  kvx_policy_range a;
  if (inet_pton(AF_INET, text.c_str(), a.addr) == 1) {
    a.family = AF_INET;
    a.prefix = 32;
  } else if (inet_pton(AF_INET6, text.c_str(), a.addr) == 1) {
    a.family = AF_INET6;
    a.prefix = 128;
  } else {
    return false;
  }
  *address = a;
  return true;
}

bool kvx_policy_range_contains(const kvx_policy_range& range, const kvx_policy_range& address) {
  const uint8_t* addr = address.addr;
  uint8_t mapped[16];
  // An IPv4 address seen through an IPv6 socket (::ffff:a.b.c.d) is that
  // IPv4 address.
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  int family = address.family;
  if (family == AF_INET6 && range.family == AF_INET && memcmp(addr, kMapped, 12) == 0) {
    memcpy(mapped, addr + 12, 4);
    addr = mapped;
    family = AF_INET;
  }
  if (family != range.family) return false;
  int bits = range.prefix;
  for (int i = 0; bits > 0; i++, bits -= 8) {
    const uint8_t mask = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - bits));
    if ((addr[i] & mask) != (range.addr[i] & mask)) return false;
  }
  return true;
}

bool kvx_policy_ranges_contain(const std::vector<kvx_policy_range>& ranges, const kvx_policy_range& address) {
  for (const kvx_policy_range& r : ranges)
    if (kvx_policy_range_contains(r, address)) return true;
  return false;
}

std::string kvx_policy_address_text(const kvx_policy_range& address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(address.family == AF_INET6 ? AF_INET6 : AF_INET, address.addr, text, sizeof text);
  return text;
}

kvx_policy_verdict kvx_policy_check_host(const std::vector<kvx_policy_host>& hosts, const std::string& host,
                                         int port) {
  kvx_policy_verdict v;
  const std::string name = policy_lower_name(host);
  const std::vector<kvx_policy_range> addresses = policy_resolve(name);
  v.resolved = !addresses.empty();
  for (const kvx_policy_host& h : hosts) {
    if (h.name.empty() || (h.port && h.port != port) || !policy_name_matches(h.name, name)) continue;
    v.allowed = true;
    if (v.resolved) v.dial = kvx_policy_address_text(addresses.front());
    return v;
  }
  for (const kvx_policy_range& a : addresses) {
    for (const kvx_policy_host& h : hosts) {
      if (!h.name.empty() || (h.port && h.port != port) || !kvx_policy_range_contains(h.range, a)) continue;
      v.allowed = true;
      v.dial = kvx_policy_address_text(a);
      return v;
    }
  }
  return v;
}

kvx_policy_t& kvx_policy() {
  static kvx_policy_t policy;
  return policy;
}
