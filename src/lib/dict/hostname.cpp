// The host-name placeholder rule: "<name[:arg,arg...]>" becomes text, where
// only "devname" produces any (a substring of the device name).
#include "hostname.h"

#include <cstdlib>
#include <string_view>

#include "lumdict.h"
#include "tetrace.h"

static constexpr int kHostMaxArgs = 6;

// A platform operation without meaning in a session process: like the
// others of its kind it writes the warning line and answers empty.
std::string app_get_device_name() {
  TE_Trace(TRACE_PRINT, "Warning (%s) unimplemented in Kavrix!\n", "app_get_device_name");
  return std::string();
}

// The substring of the device name selected by the placeholder's arguments.
static std::string host_devname_part(const std::string& dev, const std::string_view* args, int nargs) {
  int len = static_cast<int>(dev.size());
  if (len == 0) return std::string();
  int last = len - 1;
  if (nargs != 1 && nargs != 2) return dev;
  auto num = [](std::string_view a) { return atoi(std::string(a).c_str()); };
  int start = num(args[0]);
  int end = last;
  if (nargs == 2 && !args[1].empty()) end = num(args[1]);
  if (start < 0) start += len;
  if (end < 0) end += len;
  if (start < 0) start = 0;
  if (end < 0 || end > last) end = last;
  if (start > end) start = end;
  return dev.substr(start, end - start + 1);
}

std::string app_preprocess_hostname(const std::string& text, const std::string& deviceName) {
  std::string out;
  out.reserve(text.size() + deviceName.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (c != '<') {
      out += c;
      ++i;
      continue;
    }
    size_t close = text.find('>', i + 1);
    if (close == std::string::npos) {  // never closed: the rest is plain text
      out.append(text, i, std::string::npos);
      break;
    }
    std::string_view body(text.data() + i + 1, close - i - 1);
    std::string_view name = body;
    std::string_view args[kHostMaxArgs];
    int nargs = 0;
    size_t colon = body.find(':');
    if (colon != std::string_view::npos) {
      name = body.substr(0, colon);
      std::string_view rest = body.substr(colon + 1);
      for (;;) {
        size_t comma = rest.find(',');
        if (nargs < kHostMaxArgs) args[nargs] = rest.substr(0, comma);
        ++nargs;
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
      }
      if (nargs > kHostMaxArgs) nargs = kHostMaxArgs;
    }
    if (name == "devname") out += host_devname_part(deviceName, args, nargs);
    i = close + 1;
    // The character right after a placeholder is always taken literally.
    if (i < n) out += text[i++];
  }
  return out;
}

std::string app_preprocess_hostname(const char* text) {
  std::string t = text ? text : "";
  // The platform is asked for the device name only when a placeholder may
  // need it.
  if (t.find('<') == std::string::npos) return t;
  return app_preprocess_hostname(t, app_get_device_name());
}

std::string app_get_dictionary_hostname(const LumDict& dict) {
  return app_preprocess_hostname(dict.stringValueForKey("node").c_str());
}
