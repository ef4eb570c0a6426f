// A print job's text as pages and as a PDF document.
//
// The text is UTF-8: '\n' ends a line, '\f' starts a new page.  A page
// holds `lines` lines of `cols` columns; a longer line goes on in the next
// line.  A form feed ejects the page being filled; one that finds nothing
// to eject (at the start of the job, or right where a full page has just
// ended) adds no empty page, and one at the very end adds none either.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum KVX_PAPER { KVX_PAPER_A4 = 0, KVX_PAPER_LETTER = 1 };

struct kvx_page_setup {
  KVX_PAPER paper = KVX_PAPER_A4;
  int cols = 80;    // 80: portrait; more: landscape
  int lines = 66;   // lines on a page
  long long created = 0;  // the job's time (seconds since 1970) as the document's date; 0: now
};

// The paper named by a setting ("a4", "letter", any case); A4 otherwise.
KVX_PAPER kvx_paper_from_name(std::string_view name);
const char* kvx_paper_name(KVX_PAPER paper);

// The page width a job needs: 80 columns when no line is longer, else 132.
int kvx_print_columns(std::string_view text);

// The pages of a job: each a list of lines, each at most `cols` characters
// (code points) long.
std::vector<std::vector<std::string_view>> kvx_print_pages(std::string_view text, const kvx_page_setup& setup);
// How many pages the job has (as kvx_print_pages would give).
int kvx_print_page_count(std::string_view text, const kvx_page_setup& setup);

// The job as a PDF document, titled `title`; false (with `error`) when cairo
// could not make it.
bool kvx_print_pdf(std::string_view text, const kvx_page_setup& setup, const std::string& title, std::string* pdf,
                   std::string* error = nullptr);

// The monospace font file the PDF uses, or "" when none was found (the
// document then uses the system's monospace font by name).
const std::string& kvx_print_font_file();
