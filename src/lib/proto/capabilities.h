// Capabilities a browser names when it attaches (client action
// CAPABILITIES): each lets the session send frames or forms of frames that
// a browser without it would not understand.  A browser that names none
// gets exactly the frames of the original channel.  The page lists what it
// supports in html/shared/kvx-protocol.js (CAPABILITIES).
//
// To add a capability: append an enumerator (its bit number) and its name in
// kKvxCapabilityNames at the same index; test kvx_client_has() before
// sending the new form, and keep the old form for browsers without it.
#pragma once

#include <cstdint>
#include <string_view>

enum KVX_CAPABILITY : int {
  // Exact colours (256 and 24-bit) and the text styles beyond the cell's
  // bits: COLORS frames (host action 40) after the update frames whose cells
  // have any.
  KVX_CAPABILITY_TRUECOLOR = 0,
  KVX_CAPABILITY_PRINT,  // print jobs: host actions 20-29
  KVX_CAPABILITY_COUNT
};

// Names as the page sends them, indexed by KVX_CAPABILITY.
inline constexpr std::string_view kKvxCapabilityNames[KVX_CAPABILITY_COUNT + 1] = {"truecolor", "print", ""};

// The capability of a name, or -1 for a name this session does not know
// (a newer page's: ignored).
constexpr int kvx_capability_from_name(std::string_view name) {
  for (int i = 0; i < KVX_CAPABILITY_COUNT; i++)
    if (kKvxCapabilityNames[i] == name) return i;
  return -1;
}

using kvx_capabilities_t = uint64_t;  // one bit a capability
static_assert(KVX_CAPABILITY_COUNT <= 64, "one bit of kvx_capabilities_t a capability");
constexpr bool kvx_caps_has(kvx_capabilities_t caps, int capability) {
  return capability >= 0 && capability < 64 && (caps >> capability & 1u) != 0;
}
// The set with one more capability (a capability of -1, an unknown name,
// adds nothing).
constexpr kvx_capabilities_t kvx_caps_add(kvx_capabilities_t caps, int capability) {
  return capability >= 0 && capability < 64 ? caps | kvx_capabilities_t{1} << capability : caps;
}
