// The 5250 station's keyboard type, code page and character set from the
// session's settings (station_identity.h).
#include "station_identity.h"

#include <cctype>

#include "tcs.h"

void LumStationIdentity(LumDict* dict, LumTelnetSettings* settings) {
  std::string cp = dict ? dict->stringValueForKey("cptrxin") : std::string();
  const TCSEbcdicLocale& page = TCSEbcdicLocaleNamed(cp.c_str());
  settings->codePage = page.codePage;
  settings->charSet = page.charSet;
  std::string kbd = dict ? dict->stringValueForKey("ibmkbdtype") : std::string();
  // An IBM keyboard id is three letters; anything else is not sent.
  bool valid = kbd.size() == 3;
  for (char& c : kbd) {
    if (!std::isalpha(static_cast<unsigned char>(c))) valid = false;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  settings->kbdType = valid ? kbd : page.kbdType;
}
