// The locale table of the IBM 3270 and 5250 stations' host code pages
// (tcs.h): one row per code page, read by the stations' tables, the 3270
// query reply, the 5250 environment the host is told and the session's
// `cptrxin` setting.
#include <cstdio>
#include <cstring>

#include "tcs.h"

// Locale numbers 0, 2, 3 and 7 are the 3270 station's own national
// keyboards; the other pages number on from 8.  Character set 697 is the
// classic Latin-1 repertoire, 695 the same with the euro sign.
const std::array<TCSEbcdicLocale, TCS_EBCDIC_LOCALES> TCSEbcdicLocales = {{
    {0, "US English", 37, 697, "USB"},
    {7, "UK English", 285, 697, "UKB"},
    {3, "German", 273, 697, "AGB"},
    {2, "French", 297, 697, "FAB"},
    {8, "CP277", 277, 697, "DMB"},
    {9, "CP278", 278, 697, "FNB"},
    {10, "CP280", 280, 697, "ITB"},
    {11, "CP284", 284, 697, "SPB"},
    {12, "CP500", 500, 697, "BLI"},
    {13, "CP871", 871, 697, "ICB"},
    {14, "CP1047", 1047, 697, "USB"},
    {15, "CP1140", 1140, 695, "USB"},
    {16, "CP1141", 1141, 695, "AGB"},
    {17, "CP1142", 1142, 695, "DMB"},
    {18, "CP1143", 1143, 695, "FNB"},
    {19, "CP1144", 1144, 695, "ITB"},
    {20, "CP1145", 1145, 695, "SPB"},
    {21, "CP1146", 1146, 695, "UKB"},
    {22, "CP1147", 1147, 695, "FAB"},
    {23, "CP1148", 1148, 695, "BLI"},
    {24, "CP1149", 1149, 695, "ICB"},
}};

size_t TCSEbcdicLocaleIndex(int locale) {
  for (size_t i = 0; i < TCSEbcdicLocales.size(); i++)
    if (TCSEbcdicLocales[i].locale == locale) return i;
  return 0;
}

const TCSEbcdicLocale& TCSEbcdicLocaleOf(int locale) {
  return TCSEbcdicLocales[TCSEbcdicLocaleIndex(locale)];
}

static const TCSEbcdicLocale* tcs_locale_find(const char* name) {
  if (!name) return nullptr;
  for (const TCSEbcdicLocale& row : TCSEbcdicLocales) {
    char number[16];
    std::snprintf(number, sizeof number, "CP%03d", row.codePage);
    if (std::strcmp(row.name, name) == 0 || std::strcmp(number, name) == 0) return &row;
  }
  return nullptr;
}

const TCSEbcdicLocale& TCSEbcdicLocaleNamed(const char* name) {
  const TCSEbcdicLocale* row = tcs_locale_find(name);
  return row ? *row : TCSEbcdicLocales[0];
}

bool TCSEbcdicLocaleKnown(const char* name) {
  return tcs_locale_find(name) != nullptr;
}
