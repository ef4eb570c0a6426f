// A session's own trace: the settings keys "trace" (category names, as the
// server's --trace takes them) and "traceFile" (a file name in the
// directory of the server's --trace-file) turn on traces for this session
// only, on top of what the server traces for all of them.
#pragma once

class LumDict;

// Applies the session's trace settings; the server's own trace stays on.
void app_apply_trace_settings(LumDict* dict);
