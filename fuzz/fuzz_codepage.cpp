// Fuzz target of the code-page file loader and of what reads its tables:
// an arbitrary file text, a table kind and a scheme name go through the
// loader; the table it gives is then used as the session uses it (byte and
// TCS translation, the derived TCS-to-Unicode table, Unicode keys, key
// notation).  Checked after every input: the loader always answers a table
// of the kind's size, a text without the section gives the defaults, and
// every consumer stays within its output.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tcs.h"
#include "tetrace.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

const int kKinds[] = {TCS_TBL_CPTOTCS, TCS_TBL_TCSTOCP, TCS_TBL_VT200DSG, TCS_TBL_VT200DMN,
                      TCS_TBL_VT100SG, TCS_TBL_UNICODE, TCS_TBL_FONT,     5};
const char* const kSchemes[] = {"Unicode2TCS",     "STD 437 MS-DOS Latin US", "1252",
                                TCS_VT200DSG_NAME, "US English.unicode",      "a.b"};

void use_table(int kind, void* table) {
  switch (kind) {
    case TCS_TBL_UNICODE: {
      const auto* u = static_cast<const uint16_t*>(table);
      std::vector<uint16_t> back(TCS_TCS2UNI_SIZE);
      TCSBuildTCS2Unicode(u, back.data());
      for (int key : {0, 9, 32, 65, 255, 256, 0xE000, 0xE0FF, 0xFFFF, 0x10000, -1})
        (void)TCSFromUnicodeKey(u, key);
      // Every entry as key notation, the codes the table can make a key produce.
      std::vector<TCS> codes;
      for (size_t i = 0; i < TCS_UNICODE_SIZE && codes.size() < 512; i++)
        if (u[i]) codes.push_back(static_cast<TCS>(u[i]));
      codes.push_back(0);
      char text[4096];
      int n = TCSConvert(codes.data(), codes.size(), text, sizeof text, 0);
      require(n >= 0 && static_cast<size_t>(n) < sizeof text && strlen(text) == static_cast<size_t>(n));
      break;
    }
    case TCS_TBL_TCSTOCP: {
      const auto* t = static_cast<const uint8_t*>(table);
      for (int c = -1; c < 1300; c++) {
        uint8_t out = 0;
        int r = TCStoCP(c, &out, t);
        require(r >= 0 && r <= 2);
      }
      break;
    }
    case TCS_TBL_FONT:
      break;
    default: {
      const auto* t = static_cast<const TCS*>(table);
      std::vector<TCS> codes;
      for (int b = 0; b < 256; b++) {
        TCS out = 0;
        int r = CPtoTCS(b, &out, t);
        require(r == 0 || r == 1);
        if (out) codes.push_back(out);
      }
      codes.push_back(0);
      char text[8192];
      int n = TCSConvert(codes.data(), codes.size(), text, sizeof text, 0);
      require(n >= 0 && static_cast<size_t>(n) < sizeof text && strlen(text) == static_cast<size_t>(n));
      std::vector<char> cpa(codes.size() + 1);
      (void)TCSAtoCPA(codes.data(), cpa.data(), cpa.size());
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TE_Trace_SetMask(0);
  const int kind = kKinds[data[0] & 7];
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string scheme;
  if (data[0] & 0x80) {
    size_t eol = rest.find('\n');
    scheme = rest.substr(0, eol);
    rest = eol == std::string::npos ? "" : rest.substr(eol + 1);
  } else {
    scheme = kSchemes[(data[0] >> 3) % 6];
  }
  scheme.resize(strlen(scheme.c_str()));

  void* table = TCSLoadTblText(kind, rest.data(), rest.size(), scheme.c_str());
  const size_t bytes = TCSTblSize(kind);
  if (bytes == 0) {
    require(table == nullptr);
    return 0;
  }
  require(table != nullptr);
  if (rest.find('[') == std::string::npos) {
    void* defaults = TCSLoadTblText(kind, "", 0, scheme.c_str());
    require(memcmp(table, defaults, bytes) == 0);
    TCSFreeTbl(defaults);
  }
  use_table(kind, table);
  TCSFreeTbl(table);

  // The scheme line as key notation, and back.
  TCS codes[300];
  int n = TCSConvert(codes, 300, const_cast<char*>(scheme.c_str()), 0, 2);
  require(n >= 0 && n < 300 && codes[n] == 0);
  char text[2048];
  int m = TCSConvert(codes, 300, text, sizeof text, 0);
  require(m >= 0 && static_cast<size_t>(m) < sizeof text && strlen(text) == static_cast<size_t>(m));
  return 0;
}
