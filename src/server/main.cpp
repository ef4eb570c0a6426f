// Entry of both roles: readable EBCDIC dumps, the session object, then the
// command line and listener.
#include "app.h"
#include "server.h"
#include "tcs.h"

int main(int argc, char** argv) {
  TCSSetTraceEbcdicTable();
  app_s* app = app_main_initialize();
  set_app(app);
  return winmainloop(nullptr, argc, argv);
}
