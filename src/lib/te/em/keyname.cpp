// Key-name table (filled in with the character sets).
#include "keyname.h"

const char* keyname(int) { return "NONE"; }
int keyid(const char*) { return -2; }
