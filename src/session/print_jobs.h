// Host printing: what the character-mode engines send their printer, and
// the print-screen requests of the host and of the browsers, collected into
// print jobs of the session.  A finished job goes to the session's file
// store (file_store.h) as text, which browsers fetch as text or as PDF, is
// announced to the browsers that understand printing (host action
// PRINT_JOB), and is written to the print directory when the server has
// one (--print-dir).
//
// Jobs: printer-controller data (ANSI CSI 5 i ... CSI 4 i and the Wyse,
// Televideo, ADDS, IBM 3151 and PC-term equivalents) forms one job from
// the start of the mode to its end.  Printed lines (auto-print, print line)
// gather into one job that ends after kAppPrintQuietSeconds without a
// printed line.  A print screen is a job of its own.  Text is taken through
// the host's code page (or as UTF-8 when the session speaks it); carriage
// returns, tabs and backspaces place the characters of a line as a printer
// would, form feeds are kept as page breaks, other controls are dropped.
// A job that reaches kAppPrintMaxLines lines or kAppPrintMaxBytes bytes
// ends with a notice, and the printing goes on in a new job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct app_s;
struct te;
class LumDict;

constexpr int kAppPrintQuietSeconds = 5;
constexpr size_t kAppPrintMaxLines = 100000;
constexpr size_t kAppPrintMaxBytes = 16u << 20;
constexpr size_t kAppPrintMaxLineChars = 4096;  // a longer line goes on in the next one

struct app_print_jobs;
void app_print_free(app_print_jobs* jobs);

// Gives the terminal the session's printer (its printer hook).
void app_print_attach(app_s* app, te* t);
// The print settings of the session: the paper ("printpaper": "a4" or
// "letter") and the lines on a page (printer 1's "printlines").
void app_print_settings(app_s* app, LumDict* dict);
// The screen the browsers see, whatever the emulation, as a job of its own
// (the browsers' print-screen request).  False when there is no screen.
bool app_print_screen(app_s* app);
// Ends the job being collected, if any (the session ends).
void app_print_finish(app_s* app);
// Where finished jobs are also written (an existing directory; empty: not
// written), and the label that names the session in the files' names.
void app_print_set_dir(const std::string& dir, const std::string& sessionLabel);

// For tests: the text a job of these host bytes would hold.
std::string app_print_text_of(app_s* app, const char* bytes, size_t n);

struct app_file;
// The fields of host action PRINT_JOB for a kept job: id, name, pages,
// bytes of text, the time it finished (seconds since 1970).
std::vector<std::string> app_print_job_fields(const app_file& file);
