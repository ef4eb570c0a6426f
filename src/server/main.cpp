// Entry of both roles: readable EBCDIC dumps, the session object, then the
// command line and listener.
#include <event2/event.h>
#include <evhtp/evhtp.h>

#include <cstdlib>
#include <new>

#include "app.h"
#include "server.h"
#include "tcs.h"

namespace {

// Allocations of the event loop and the HTTP layer fail the way those of
// operator new do: the new-handler runs (a session's ends the session in
// order and tells its browsers) and the allocation is tried again.  Without
// this a session at its memory bound could lose a connection in the middle
// of a request instead, and carry on as if nothing had happened.
void* alloc_or_handle(size_t n) {
  for (;;) {
    if (void* p = std::malloc(n)) return p;
    std::new_handler handler = std::get_new_handler();
    if (n == 0 || !handler) return nullptr;
    handler();
  }
}

void* realloc_or_handle(void* old, size_t n) {
  for (;;) {
    if (void* p = std::realloc(old, n)) return p;
    std::new_handler handler = std::get_new_handler();
    if (n == 0 || !handler) return nullptr;
    handler();
  }
}

}  // namespace

int main(int argc, char** argv) {
  event_set_mem_functions(alloc_or_handle, realloc_or_handle, std::free);
  evhtp_set_mem_functions(alloc_or_handle, realloc_or_handle, std::free);
  TCSSetTraceEbcdicTable();
  app_s* app = app_main_initialize();
  set_app(app);
  return winmainloop(nullptr, argc, argv);
}
