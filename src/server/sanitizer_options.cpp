// Default sanitizer options of the Kavrix executable in a sanitizer build
// (linked in only there).  Session processes start with no environment but
// HOME, so ASAN_OPTIONS cannot reach them: every process of the program
// writes its reports into the build's report directory instead, where the
// test run looks for them, and stops at the first one.
extern "C" {

const char* __asan_default_options() {
  return "log_path=" KVX_SANITIZER_LOG_DIR "/kavrix:halt_on_error=1:detect_leaks=1";
}

const char* __ubsan_default_options() {
  return "log_path=" KVX_SANITIZER_LOG_DIR "/kavrix:halt_on_error=1:print_stacktrace=1";
}

const char* __lsan_default_options() {
  return "suppressions=" KVX_SANITIZER_SUPPRESSIONS;
}

}  // extern "C"
