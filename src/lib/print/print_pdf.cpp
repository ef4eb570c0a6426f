// Pages and PDF of a print job (see print_pdf.h).  cairo writes the PDF:
// it embeds the subset of the font the job uses with the map back to
// Unicode, so that the text can be searched, copied and extracted.
#include "print_pdf.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstring>
#include <strings.h>

namespace {

// Monospace fonts the program's packages install (fonts-dejavu-core), in
// the order tried.
const char* const kFontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/TTF/DejaVuSansMono.ttf",
};

// The advance of one character of DejaVu Sans Mono (and of most monospace
// fonts) as a part of the font size, and the line height the text needs.
constexpr double kAdvance = 0.6021;
constexpr double kLeading = 1.18;
constexpr double kMargin = 36;  // half an inch around the text

// Code points of a line up to `cols` of them: the byte length they take.
size_t pp_prefix(std::string_view s, int cols, bool* more) {
  size_t i = 0;
  int n = 0;
  while (i < s.size() && n < cols) {
    i++;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) i++;
    n++;
  }
  *more = i < s.size();
  return i;
}

struct Paginator {
  const kvx_page_setup& setup;
  std::vector<std::vector<std::string_view>>* pages;  // null: count only
  int count = 0;
  int onPage = 0;        // lines on the page being filled
  bool justFull = false;  // the previous page ended because it was full
  bool started = false;   // anything has been laid out

  void line(std::string_view s) {
    for (;;) {
      bool more;
      size_t n = pp_prefix(s, std::max(setup.cols, 1), &more);
      if (pages && pages->size() == static_cast<size_t>(count)) pages->emplace_back();
      if (pages) pages->back().push_back(s.substr(0, n));
      started = true;
      justFull = false;
      if (++onPage >= std::max(setup.lines, 1)) {
        count++;
        onPage = 0;
        justFull = true;
      }
      s.remove_prefix(n);
      if (!more) break;
    }
  }
  void formFeed() {
    // At the top of the first page, or where a full page has just ended, a
    // form feed has nothing to eject.
    if (onPage == 0 && (justFull || !started)) return;
    if (pages && pages->size() == static_cast<size_t>(count)) pages->emplace_back();  // an empty page asked for
    count++;
    onPage = 0;
    justFull = false;
  }
  void finish() {
    if (onPage > 0) count++;
    if (count == 0) {
      if (pages) pages->emplace_back();
      count = 1;
    }
  }
};

void pp_layout(std::string_view text, Paginator& p) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of("\n\f", at);
    if (end == std::string_view::npos) {
      p.line(text.substr(at));
      break;
    }
    std::string_view line = text.substr(at, end - at);
    if (text[end] == '\n') {
      p.line(line);
    } else {
      if (!line.empty()) p.line(line);
      p.formFeed();
    }
    at = end + 1;
  }
  p.finish();
}

// Valid UTF-8 for cairo, which refuses a whole text with one bad sequence:
// each byte that does not begin a well-formed sequence becomes U+FFFD.
std::string pp_valid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; k++) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (ok && len == 3) {
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
    } else if (ok && len == 4) {
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
    }
    if (ok && (len > 1 || c >= 0x20 || c == '\t')) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += ok ? " " : "\xEF\xBF\xBD";
      i += ok ? len : 1;
    }
  }
  return out;
}

cairo_status_t pp_write(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// The font of the PDF, loaded once: FreeType's face of the font file, which
// cairo keeps as long as the process runs, and the glyph of each character
// as the face maps it (looked up on first use).
struct PrintFont {
  FT_Face ft = nullptr;
  cairo_font_face_t* face = nullptr;
  std::vector<uint32_t> glyphs;  // by code point below 0x10000; kNoGlyph: not looked up yet
  static constexpr uint32_t kNoGlyph = 0xFFFFFFFF;

  uint32_t glyph(uint32_t cp) {
    if (cp < glyphs.size()) {
      uint32_t& g = glyphs[cp];
      if (g == kNoGlyph) g = FT_Get_Char_Index(ft, cp);
      return g;
    }
    return FT_Get_Char_Index(ft, cp);
  }
};

PrintFont* pp_font() {
  static PrintFont* font = [] {
    const std::string& file = kvx_print_font_file();
    static FT_Library library = nullptr;
    FT_Face ft = nullptr;
    if (file.empty() || FT_Init_FreeType(&library) != 0 || FT_New_Face(library, file.c_str(), 0, &ft) != 0)
      return static_cast<PrintFont*>(nullptr);
    PrintFont* f = new PrintFont;
    f->ft = ft;
    f->face = cairo_ft_font_face_create_for_ft_face(ft, 0);
    f->glyphs.assign(0x10000, PrintFont::kNoGlyph);
    return f;
  }();
  return font;
}

// The next code point of valid UTF-8 text at `i`.
uint32_t pp_next(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  uint32_t cp = c & (0x3F >> more);
  while (more-- > 0 && i < s.size()) cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

}  // namespace

KVX_PAPER kvx_paper_from_name(std::string_view name) {
  return name.size() == 6 && strncasecmp(name.data(), "letter", 6) == 0 ? KVX_PAPER_LETTER : KVX_PAPER_A4;
}

const char* kvx_paper_name(KVX_PAPER paper) {
  return paper == KVX_PAPER_LETTER ? "letter" : "a4";
}

const std::string& kvx_print_font_file() {
  static const std::string file = [] {
    struct stat st;
    for (const char* f : kFontFiles)
      if (stat(f, &st) == 0 && S_ISREG(st.st_mode)) return std::string(f);
    return std::string();
  }();
  return file;
}

int kvx_print_columns(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of("\n\f", at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    if (line.size() > 80) {
      bool more;
      pp_prefix(line, 80, &more);
      if (more) return 132;
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return 80;
}

std::vector<std::vector<std::string_view>> kvx_print_pages(std::string_view text, const kvx_page_setup& setup) {
  std::vector<std::vector<std::string_view>> pages;
  Paginator p{setup, &pages};
  pp_layout(text, p);
  pages.resize(p.count);
  return pages;
}

int kvx_print_page_count(std::string_view text, const kvx_page_setup& setup) {
  Paginator p{setup, nullptr};
  pp_layout(text, p);
  return p.count;
}

bool kvx_print_pdf(std::string_view text, const kvx_page_setup& setup, const std::string& title, std::string* pdf,
                   std::string* error) {
  pdf->clear();
  // Sheet in points; a job wider than 80 columns is printed across it.
  double w = setup.paper == KVX_PAPER_LETTER ? 612 : 595.276;
  double h = setup.paper == KVX_PAPER_LETTER ? 792 : 841.89;
  const int cols = std::max(setup.cols, 1), lines = std::max(setup.lines, 1);
  if (cols > 80) std::swap(w, h);
  const double size = std::min((w - 2 * kMargin) / (cols * kAdvance), (h - 2 * kMargin) / (lines * kLeading));
  const double step = (h - 2 * kMargin) / lines;

  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(pp_write, pdf, w, h);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Kavrix");
  // The job's own time, so that one job gives the same document whenever
  // it is made (a view and a download, or the print directory's copy).
  if (setup.created > 0) {
    const time_t when = static_cast<time_t>(setup.created);
    struct tm utc;
    char date[32];
    if (gmtime_r(&when, &utc) && strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc))
      cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, date);
  }
  cairo_t* cr = cairo_create(surface);
  PrintFont* font = pp_font();
  if (font)
    cairo_set_font_face(cr, font->face);
  else
    cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  const double advance = size * kAdvance;

  // A page goes out as one run of glyphs, each at its own cell (blanks are
  // left out); without the font file, line by line as text.
  std::string line;
  std::vector<cairo_glyph_t> run;
  for (const auto& page : kvx_print_pages(text, setup)) {
    double y = kMargin + fe.ascent;
    run.clear();
    for (std::string_view l : page) {
      if (!l.empty()) {
        line = pp_valid_utf8(l);
        if (font) {
          size_t i = 0;
          for (int col = 0; i < line.size(); col++) {
            uint32_t cp = pp_next(line, i);
            if (cp != ' ') run.push_back({font->glyph(cp), kMargin + col * advance, y});
          }
        } else {
          cairo_move_to(cr, kMargin, y);
          cairo_show_text(cr, line.c_str());
        }
      }
      y += step;
    }
    if (!run.empty()) cairo_show_glyphs(cr, run.data(), static_cast<int>(run.size()));
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    if (error) *error = cairo_status_to_string(status);
    pdf->clear();
    return false;
  }
  return true;
}
