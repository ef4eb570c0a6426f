// The locale table of the IBM 3270 station's host code pages (tcs.h): one
// row per locale, read by the station's tables, its query reply and the
// session's `cptrxin` setting.
#include <cstring>

#include "tcs.h"

const std::array<TCSEbcdicLocale, TCS_EBCDIC_LOCALES> TCSEbcdicLocales = {{
    {0, "US English", 37},
    {7, "UK English", 285},
    {3, "German", 273},
    {2, "French", 297},
}};

size_t TCSEbcdicLocaleIndex(int locale) {
  for (size_t i = 0; i < TCSEbcdicLocales.size(); i++)
    if (TCSEbcdicLocales[i].locale == locale) return i;
  return 0;
}

const TCSEbcdicLocale& TCSEbcdicLocaleOf(int locale) {
  return TCSEbcdicLocales[TCSEbcdicLocaleIndex(locale)];
}

const TCSEbcdicLocale& TCSEbcdicLocaleNamed(const char* name) {
  for (const TCSEbcdicLocale& row : TCSEbcdicLocales)
    if (name && std::strcmp(row.name, name) == 0) return row;
  return TCSEbcdicLocales[0];
}
