// A session's own trace settings on top of the server's (--trace,
// --trace-file), which every session process starts with.
#include "trace_settings.h"

#include <string>

#include "lumdict.h"
#include "tetrace.h"

namespace {

struct Base {
  bool known = false;
  uint32_t mask = 0;
  int route = 0;
  std::string file;  // the server's trace file, "" when none
};

Base& base() {
  static Base b;
  if (!b.known) {
    b.known = true;
    b.mask = TE_Trace_Mask();
    b.route = TE_Trace_Route();
    if (const char* f = TE_Trace_OutputFile()) b.file = f;
  }
  return b;
}

// A file name a browser may choose: letters, digits, '.', '_', '-', not
// starting with a dot (no directory, nothing hidden).
bool plain_name(const std::string& name) {
  if (name.empty() || name.size() > 128 || name[0] == '.') return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
          c == '-'))
      return false;
  return true;
}

}  // namespace

void app_apply_trace_settings(LumDict* dict) {
  if (!dict) return;
  const Base& b = base();
  uint32_t mask = 0;
  std::string categories = dict->stringValueForKey("trace");
  const char* bad = nullptr;
  if (!categories.empty() && !TE_Trace_ParseCategories(categories.c_str(), &mask, &bad)) {
    TE_Trace(TRACE_FAIL, "Session trace: unknown category \"%s\" (known: %s); not traced\n", bad ? bad : "",
             TE_Trace_CategoryNames());
    mask = 0;
  }
  int route = b.route;
  std::string file = b.file;
  std::string name = dict->stringValueForKey("traceFile");
  if (!name.empty()) {
    size_t slash = b.file.rfind('/');
    if (!plain_name(name)) {
      TE_Trace(TRACE_FAIL, "Session trace: the trace file must be a plain file name; not used\n");
    } else if (slash == std::string::npos) {
      TE_Trace(TRACE_FAIL, "Session trace: no trace directory (the server's --trace-file); not used\n");
    } else {
      file = b.file.substr(0, slash + 1) + name;
      route |= TRACE_ROUTE_FILE;
    }
  }
  const char* current = TE_Trace_OutputFile();
  if (!file.empty() && (!current || file != current)) TE_Trace_SetOutputFile(file.c_str());
  if (TE_Trace_Route() != route) TE_Trace_SetRoute(route);
  if (TE_Trace_Mask() != (b.mask | mask)) TE_Trace_SetMask(b.mask | mask);
}
