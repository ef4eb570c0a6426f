// Host printing through the real binary, a local shell as the host: the
// printer sequences of the VT, Wyse and IBM 3151 families make print jobs
// and leave the screen as the terminal shows it; auto-print, the host's and
// the browser's print screen; the jobs reach the browser (PRINT_JOB frames,
// "/print_jobs", "/get_file" as text and as PDF, whose text pdftotext reads
// back page by page) only with the session's identifier; the bounds of a
// job and of the jobs kept; and --print-dir.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::ChannelFrame;
using kvxtest::TestBrowser;

namespace {

struct Home {
  std::string dir;
  Home() {
    char tmpl[] = "/tmp/kvxprint.XXXXXX";
    dir = mkdtemp(tmpl);
    std::ofstream(dir + "/.bashrc")
        << "PS1='kvx$ '\nunset PROMPT_COMMAND\nbind 'set enable-bracketed-paste off'\n";
  }
  ~Home() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

struct Job {
  std::string id, name;
  int pages = 0;
  long bytes = 0;
};

// A browser that understands printing: the jobs and drops it hears of.
struct PrintBrowser : TestBrowser {
  PrintBrowser() {
    onFrame = [this](const ChannelFrame& f) {
      if (f.action == KVX_HOST_ACTION_PRINT_JOB && f.fields.size() >= 4)
        jobs.push_back({f.fields[0], f.fields[1], std::stoi(f.fields[2]), std::stol(f.fields[3])});
      if (f.action == KVX_HOST_ACTION_PRINT_DROPPED && !f.fields.empty()) dropped.push_back(f.fields[0]);
    };
  }
  bool WaitJobs(size_t n, double seconds = 30) {
    return Pump([&] { return jobs.size() >= n; }, seconds);
  }
  kvxtest::HttpResponse Fetch(const std::string& id, const std::string& form, bool download = false) {
    return kvxtest::HttpRequest(serverPort, "GET",
                                "/get_file?session=" + sessionId + "&file=" + id + "&form=" + form +
                                    (download ? "&download=1" : ""));
  }
  std::vector<Job> jobs;
  std::vector<std::string> dropped;
};

std::string Config(int emulate, const std::string& extra = "") {
  return "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(emulate) +
         ",\"MBMode\":1,\"clearEmulator\":1" + extra + "},\"connectToHost\":true}";
}

class Printing : public testing::Test {
 protected:
  void Start(const std::vector<std::string>& extra = {}) {
    kvxtest::ServerOptions options;
    options.home = home.dir;
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    server = std::make_unique<kvxtest::KavrixServer>(options);
  }
  bool Open(PrintBrowser& b, int emulate, const std::string& extra = "") {
    if (!b.NewSession(server->port())) return false;
    b.PostConfig(Config(emulate, extra));
    return b.Attach() && b.Send(KVX_CLIENT_ACTION_CAPABILITIES, {"print"}) && b.WaitText("kvx$");
  }
  Home home;
  std::unique_ptr<kvxtest::KavrixServer> server;
};

// The rows of the screen, blanks at their ends left out.
std::string ScreenText(const TestBrowser& b) {
  return b.screen.Text();
}

// The command types the job's words in capitals; the host prints them in
// small letters, so that a word in small letters on the screen can only
// have come from the printed output.
TEST_F(Printing, PrinterSequencesOfEachFamilyMakeAJobAndTheScreenShowsOnlyTheRest) {
  ASSERT_EQ(kvxtest::Need({"pdftotext"}), "");
  struct Case {
    int emulate;
    const char* start;
    const char* end;
  } cases[] = {
      {KVX_EM_VT220, "\\033[5i", "\\033[4i"},
      {KVX_EM_XTERM, "\\033[5i", "\\033[4i"},
      {KVX_EM_WYSE50, "\\030", "\\024"},       // Ctrl-X ... DC4
      {KVX_EM_WYSE60, "\\033d#", "\\024"},     // ESC d # ... DC4, no auxiliary port
      {KVX_EM_TVI950, "\\033`", "\\033a"},     // ESC ` ... ESC a
      {KVX_EM_PCTERM, "\\033`", "\\033a"},
      {KVX_EM_IBM3151, "\\020\\022", "\\020\\024"},  // DLE DC2 ... DLE DC4
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.emulate);
    PrintBrowser b;
    ASSERT_TRUE(Open(b, c.emulate)) << b.Describe();
    const std::string command = std::string("printf 'before") + c.start + "%s\\r\\n\\tsecond\\r\\n\\fpage two\\r\\n" +
                                c.end + "' \"$(echo FIRST LINE | tr A-Z a-z)\"; echo 'after'\r";
    ASSERT_TRUE(b.Type(command));
    ASSERT_TRUE(b.WaitJobs(1)) << b.Describe();
    ASSERT_TRUE(b.WaitText("beforeafter")) << ScreenText(b);
    EXPECT_EQ(b.screen.Find("first line"), -1) << ScreenText(b);

    ASSERT_EQ(b.jobs.size(), 1u);
    EXPECT_EQ(b.jobs[0].pages, 2);
    auto text = b.Fetch(b.jobs[0].id, "text");
    ASSERT_EQ(text.status, 200) << text.raw;
    EXPECT_EQ(text.body, "first line\n        second\n\fpage two\n");
    EXPECT_EQ(b.jobs[0].bytes, static_cast<long>(text.body.size()));
  }
}

// The PDF's text, as pdftotext reads it, is the job's: line for line, a
// page for each form feed, and a new page where a page is full.
TEST_F(Printing, ThePdfHoldsThePrintedLinesAndPageBreaks) {
  ASSERT_EQ(kvxtest::Need({"pdftotext"}), "");
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220, ",\"printlines\":20,\"printcols\":80,\"printpaper\":\"letter\"")) << b.Describe();
  // Page 1: 25 lines (20 fit, 5 go on to page 2), a form feed, then a page
  // of a line 132 columns wide (the page turns to landscape) and accented
  // letters.
  ASSERT_TRUE(b.Type("printf '\\033[5i'; for i in $(seq 1 25); do printf 'line %02d of page one\\r\\n' $i; done; "
                     "printf '\\f'; printf '%0132d\\r\\n' 7; printf 'caf\\303\\251 na\\303\\257ve\\r\\n\\033[4i'\r"));
  ASSERT_TRUE(b.WaitJobs(1)) << b.Describe();
  EXPECT_EQ(b.jobs[0].pages, 3);
  auto pdf = b.Fetch(b.jobs[0].id, "pdf");
  ASSERT_EQ(pdf.status, 200) << pdf.raw.substr(0, 300);
  EXPECT_EQ(pdf.header("Content-Type").value_or(""), "application/pdf");
  EXPECT_EQ(pdf.header("Content-Disposition").value_or(""), "inline; filename=\"" + b.jobs[0].name.substr(0, b.jobs[0].name.rfind('.')) + ".pdf\"");
  ASSERT_EQ(pdf.body.compare(0, 5, "%PDF-"), 0);
  const std::string file = home.dir + "/job.pdf";
  std::ofstream(file, std::ios::binary) << pdf.body;
  FILE* p = popen(("pdftotext -layout -enc UTF-8 " + file + " - 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string got;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) got.append(buf, n);
  pclose(p);
  // pdftotext ends each page with a form feed; blanks at the ends of lines
  // and the empty lines its layout puts between widely spaced ones (the job
  // has no empty line) are left out here.
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  for (char c : got) {
    if (c == '\f') {
      if (!line.empty()) pages.back().push_back(line);
      line.clear();
      pages.emplace_back();
    } else if (c == '\n') {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      if (!line.empty()) pages.back().push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (pages.back().empty()) pages.pop_back();
  for (auto& page : pages)
    while (!page.empty() && page.back().empty()) page.pop_back();
  std::vector<std::vector<std::string>> want(3);
  for (int i = 1; i <= 25; i++) {
    char l[64];
    snprintf(l, sizeof l, "line %02d of page one", i);
    want[i <= 20 ? 0 : 1].push_back(l);
  }
  want[2] = {std::string(131, '0') + "7", "café naïve"};
  EXPECT_EQ(pages, want) << got;

  // The same job as a download of text and of PDF.
  auto download = b.Fetch(b.jobs[0].id, "pdf", true);
  EXPECT_EQ(download.header("Content-Disposition").value_or("").rfind("attachment; filename=", 0), 0u);
  EXPECT_EQ(download.body, pdf.body);
}

TEST_F(Printing, JobsAreFetchedOnlyWithTheSessionIdentifier) {
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220)) << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033[5isecret\\033[4i'\r"));
  ASSERT_TRUE(b.WaitJobs(1)) << b.Describe();
  const std::string id = b.jobs[0].id;
  ASSERT_EQ(b.Fetch(id, "text").body, "secret\n");
  std::string wrong = b.sessionId;
  wrong.back() = wrong.back() == 'a' ? 'b' : 'a';
  const int port = server->port(), child = b.sessionPort;
  // Through the server's port and straight to the session's own port.
  for (int to : {port, child}) {
    for (const std::string& query : {"file=" + id, "session=&file=" + id, "session=" + wrong + "&file=" + id}) {
      SCOPED_TRACE(std::to_string(to) + " " + query);
      auto r = kvxtest::HttpRequest(to, "GET", "/get_file?" + query + "&form=text");
      EXPECT_TRUE(r.status == 403 || r.status == 404) << r.raw;
      EXPECT_EQ(r.body.find("secret"), std::string::npos);
      auto list = kvxtest::HttpRequest(to, "POST", "/print_jobs?" + query, "{}", {{"Content-Type", "application/json"}});
      EXPECT_NE(kvxtest::EnvelopeCode(list.body), 0) << list.raw;
    }
  }
  auto list = kvxtest::PostJson(port, "/print_jobs?session=" + b.sessionId, "{}");
  EXPECT_EQ(kvxtest::EnvelopeCode(list.body), 0) << list.raw;
  EXPECT_NE(list.body.find("\"name\":\"" + b.jobs[0].name + "\""), std::string::npos) << list.body;
  // No such job, no such form.
  EXPECT_EQ(b.Fetch("999", "text").status, 404);
  EXPECT_EQ(b.Fetch(id, "docx").status, 404);
}

// Auto-print: each line the cursor leaves is printed; the job ends after
// the quiet time.  The host's print screen and the browser's are jobs of
// their own, of the screen as it shows.
TEST_F(Printing, AutoPrintAndPrintScreen) {
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220)) << b.Describe();
  ASSERT_TRUE(b.Type("clear; printf '\\033[?5i'; echo one; echo two; printf '\\033[?4i'\r"));
  ASSERT_TRUE(b.WaitJobs(1, 30)) << b.Describe();
  auto lines = b.Fetch(b.jobs[0].id, "text");
  EXPECT_NE(lines.body.find("one\ntwo\n"), std::string::npos) << lines.body;
  EXPECT_TRUE(b.WaitText("two"));

  ASSERT_TRUE(b.Type("clear; echo ALPHA; printf '\\033[i'\r"));
  ASSERT_TRUE(b.WaitJobs(2)) << b.Describe();
  auto screen = b.Fetch(b.jobs[1].id, "text");
  EXPECT_EQ(screen.body, "ALPHA\n") << "the rows of the screen, blank ones at the end left out";

  ASSERT_TRUE(b.Type("echo BRAVO\r"));
  ASSERT_TRUE(b.Pump([&] {
    for (int y = 0; y + 1 < 24; y++)
      if (b.screen.Row(y) == "BRAVO") return b.screen.Row(y + 1).rfind("kvx$", 0) == 0;
    return false;
  }));
  ASSERT_TRUE(b.Send(KVX_CLIENT_ACTION_PRINT_SCREEN));
  ASSERT_TRUE(b.WaitJobs(3)) << b.Describe();
  auto browserScreen = b.Fetch(b.jobs[2].id, "text");
  EXPECT_NE(browserScreen.body.find("\nBRAVO\n"), std::string::npos) << browserScreen.body;
  EXPECT_EQ(browserScreen.body.find("\n\n\n\n"), std::string::npos) << "blank rows at the end are left out";
}

// A job ends at 100 000 lines with a notice and the printing goes on in a
// new one; the session keeps the last 20 jobs, dropping the oldest with a
// notice; the screen keeps working.
TEST_F(Printing, BoundsOfAJobAndOfTheJobsKept) {
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220)) << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033[5i'; seq 1 100003; printf '\\033[4i'; echo do''ne\r"));
  ASSERT_TRUE(b.WaitJobs(2, 120)) << b.Describe();
  ASSERT_TRUE(b.WaitText("done", 60));
  EXPECT_NE(b.events.find("notice print: Print job 1 reached its bound of 100000 lines"), std::string::npos)
      << b.events;
  auto first = b.Fetch(b.jobs[0].id, "text");
  auto second = b.Fetch(b.jobs[1].id, "text");
  EXPECT_EQ(std::count(first.body.begin(), first.body.end(), '\n'), 100000);
  EXPECT_EQ(first.body.substr(first.body.size() - 7), "100000\n");
  EXPECT_EQ(second.body, "100001\n100002\n100003\n");

  ASSERT_TRUE(b.Type("for i in $(seq 1 19); do printf '\\033[5ijob %d\\033[4i' $i; done; echo fi''nished\r"));
  ASSERT_TRUE(b.WaitJobs(21, 60)) << b.Describe();
  ASSERT_TRUE(b.WaitText("finished"));
  EXPECT_EQ(b.dropped, std::vector<std::string>{b.jobs[0].id});
  EXPECT_NE(b.events.find("notice print: The oldest print job, " + b.jobs[0].name + ", was dropped"),
            std::string::npos)
      << b.events;
  EXPECT_EQ(b.Fetch(b.jobs[0].id, "text").status, 404);
  EXPECT_EQ(b.Fetch(b.jobs[20].id, "text").body, "job 19\n");

  // A browser that attaches now hears of the 20 jobs kept.
  PrintBrowser late;
  late.sessionId = b.sessionId;
  late.serverPort = b.serverPort;
  ASSERT_TRUE(late.Attach());
  ASSERT_TRUE(late.Send(KVX_CLIENT_ACTION_CAPABILITIES, {"print"}));
  ASSERT_TRUE(late.WaitJobs(20)) << late.Describe();
  EXPECT_EQ(late.jobs.front().id, b.jobs[1].id);
}

// Endless print data without line ends: the lines break at 4 096
// characters, each job ends before 16 MB, and the session goes on.
TEST_F(Printing, EndlessPrintDataIsCutIntoBoundedJobs) {
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220)) << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033[5i'; head -c 20000000 /dev/zero | tr '\\0' x; printf '\\033[4i'; echo st''ill\r"));
  ASSERT_TRUE(b.WaitJobs(2, 240)) << b.Describe();
  ASSERT_TRUE(b.WaitText("still", 120)) << ScreenText(b);
  EXPECT_NE(b.events.find("notice print: Print job 1 reached its bound of 16 MB"), std::string::npos) << b.events;
  EXPECT_LE(b.jobs[0].bytes, 16l << 20);
  EXPECT_EQ(b.jobs[0].bytes + b.jobs[1].bytes, 20000000 + (20000000 + 4095) / 4096);
  auto second = b.Fetch(b.jobs[1].id, "text");
  EXPECT_EQ(second.body.substr(0, 4097), std::string(4096, 'x') + "\n");
}

// The host's code page applies to what it prints.
TEST_F(Printing, PrintedTextGoesThroughTheHostsCodePage) {
  Start();
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220, ",\"MBMode\":0,\"cptrxin\":\"ISO 8859-1 Latin 1\"")) << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033[5icaf\\351 \\337\\033[4i'\r"));
  ASSERT_TRUE(b.WaitJobs(1)) << b.Describe();
  EXPECT_EQ(b.Fetch(b.jobs[0].id, "text").body, "café ß\n");
}

// --print-dir: every job is also kept there as PDF, named by the session
// and the time, readable by the server's user alone.
TEST_F(Printing, PrintDirectoryKeepsEachJobOwnerOnly) {
  const std::string dir = home.dir + "/spool";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  Start({"--print-dir", dir});
  PrintBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_VT220)) << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033[5ikept\\033[4i'\r"));
  ASSERT_TRUE(b.WaitJobs(1)) << b.Describe();
  std::vector<std::filesystem::path> files;
  ASSERT_TRUE(kvxtest::WaitFor([&] {
    files.clear();
    for (const auto& e : std::filesystem::directory_iterator(dir)) files.push_back(e.path());
    return !files.empty();
  }));
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename();
  EXPECT_EQ(name.find(b.sessionId), std::string::npos) << "the file does not carry the whole identifier";
  EXPECT_EQ(name.rfind(b.sessionId.substr(0, 4), 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".pdf");
  struct stat st;
  ASSERT_EQ(stat(files[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(files[0], std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.compare(0, 5, "%PDF-"), 0);

  // A directory that does not exist is refused at start.
  kvxtest::ServerOptions bad;
  bad.args = {"-p", "0", "--print-dir", home.dir + "/none"};
  bad.waitForStartup = false;
  kvxtest::KavrixServer refused(bad);
  EXPECT_NE(refused.Wait(), 0);
  EXPECT_NE(refused.out().find("option [--print-dir]"), std::string::npos) << refused.out();
}

}  // namespace
