// Settings dictionary: the text a store writes, lookups over hand-written
// texts, value limits, injection through values and keys, capacity, files
// and the typed getters and setters of LumDict.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dictionary.h"
#include "lumdict.h"

namespace {

struct DictDeleter {
  void operator()(dictionary* d) const { DictClose(d); }
};
using Dict = std::unique_ptr<dictionary, DictDeleter>;

Dict make(const std::string& text, uint32_t capacity = 0) {
  Dict d(DictCreate(capacity));
  RAMfputs(&d->rb, text.data(), text.size());
  return d;
}

std::string text_of(const dictionary* d) {
  return std::string(d->rb.buf, d->rb.size);
}

// Value of a key, or "<missing>".
std::string get(const dictionary* d, const char* key) {
  char buf[DICT_MAX_ENTRY];
  return DictGetValue(d, nullptr, key, "<missing>", buf, sizeof buf) == 0 ? "<missing>" : buf;
}

struct Store {
  const char* key;
  const char* value;  // null removes
};

struct TextCase {
  const char* what;
  const char* before;
  std::vector<Store> stores;
  const char* after;
};

const TextCase kTextCases[] = {
    {"first key of an empty dictionary", "", {{"node", "x"}}, "[(null)]\nnode=x\n"},
    {"keys in the order first stored", "", {{"node", "x"}, {"port", "23"}}, "[(null)]\nnode=x\nport=23\n"},
    {"a second store rewrites in place",
     "",
     {{"node", "x"}, {"port", "23"}, {"Node", "y"}},
     "[(null)]\nNode=y\nport=23\n"},
    {"a store without value removes",
     "",
     {{"node", "x"}, {"port", "23"}, {"node", nullptr}},
     "[(null)]\nport=23\n"},
    {"removing a missing key changes nothing", "[s]\na=1\n", {{"b", nullptr}}, "[s]\na=1\n"},
    {"text before any header", "a=1\nfoo\n", {{"b", "2"}}, "a=1\nfoo\n\n[(null)]\nb=2\n"},
    {"text before any header ending blank", "x\n\n", {{"b", "2"}}, "x\n\n[(null)]\nb=2\n"},
    {"text without a final LF and no header", "a=1", {{"b", "2"}}, "a=1\n\n[(null)]\nb=2\n"},
    {"new keys go ahead of one final blank line", "[s]\na=1\n\n", {{"b", "2"}}, "[s]\na=1\nb=2\n\n"},
    {"only one blank line is held back", "[s]\na=1\n\n\n", {{"b", "2"}}, "[s]\na=1\n\nb=2\n\n"},
    {"header alone", "[s]\n", {{"b", "2"}}, "[s]\nb=2\n"},
    {"last entry without LF", "[s]\na=1", {{"b", "2"}}, "[s]\na=1\nb=2\n"},
    {"CR LF text is rewritten with LF", "[s]\r\na=1\r\n\r\n", {{"b", "2"}}, "[s]\na=1\nb=2\n\n"},
    {"first of two equal keys is replaced", "[s]\nk=1\nK=2\n", {{"k", "3"}}, "[s]\nk=3\nK=2\n"},
    {"other lines survive",
     "; top\n[s]\n; c\n\nx\n[t]\nk=1\n",
     {{"k", "2"}, {"n", "3"}},
     "; top\n[s]\n; c\n\nx\n[t]\nk=2\nn=3\n"},
    {"a braced value spanning lines is replaced whole",
     "[s]\na={x\ny}\nb=2\n",
     {{"a", "1"}},
     "[s]\na=1\nb=2\n"},
    {"an unclosed braced value replaces its line only", "[s]\na={x\nb=2\n", {{"a", "1"}}, "[s]\na=1\nb=2\n"},
    {"a line feed in a value keeps the first line only",
     "",
     {{"node", "a"}, {"x", "x\nnode=evil"}},
     "[(null)]\nnode=a\nx=x\n"},
    {"a '{' left open is closed", "", {{"a", "x{"}, {"b", "2"}}, "[(null)]\na=x{}\nb=2\n"},
    {"keys are stored without their blanks", "", {{"  lines\t", "24"}}, "[(null)]\nlines=24\n"},
    {"keys that could inject are refused",
     "",
     {{"node=evil", "x"}, {"a\nnode", "evil"}, {"", "x"}, {"  ", "x"}},
     ""},
};

TEST(DictText, Stores) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(c.what);
    Dict d = make(c.before);
    for (const Store& s : c.stores) DictSetValue(d.get(), nullptr, s.key, s.value);
    EXPECT_EQ(text_of(d.get()), c.after);
  }
}

struct LookupCase {
  const char* text;
  const char* key;
  const char* value;
};

const LookupCase kLookupCases[] = {
    {"[s]\nLines=24\n", "lines", "24"},
    {"[s]\n  lines  =  24  \n", "LINES", "24  "},  // value keeps its trailing blanks
    {"[s]\nk=a{b}c\n", "k", "ab"},
    {"[s]\nk={a\nb\nc}d\n", "k", "abc"},
    {"[s]\nk=a{b{c}d\n", "k", "abc"},
    {"[s]\nk={a\nb=2\n", "k", "ab=2"},  // open to the end of the text
    {"[s]\nk=\n", "k", ""},
    {"[s]\nk=1", "k", "1"},
    {"[s]\r\nk=1\r\nj=2\r\n", "k", "1"},
    {"[s]\nk=1\r2\n", "k", "12"},
    {"k=1\n[s]\n", "k", "<missing>"},  // lines before the header are invisible
    {"k=1\n", "k", "<missing>"},
    {"[s]\nk\n", "k", "<missing>"},  // no '=': never an entry
    {"[s]\n[t]=1\n", "[t]", "1"},    // later headers are candidate lines
    {"[s]\n[t]\nk=2\n", "k", "2"},
    {"[s]\nk=1\nk=2\n", "k", "1"},
    {"[s]\nx=1\n", "", "<missing>"},
};

TEST(DictText, Lookups) {
  for (const LookupCase& c : kLookupCases) {
    Dict d = make(c.text);
    EXPECT_EQ(get(d.get(), c.key), c.value) << c.text;
  }
  Dict d = make("[s]\nk=abc\ne=\n");
  char buf[8];
  EXPECT_EQ(DictGetValue(d.get(), nullptr, "k", "def", buf, sizeof buf), 3);
  EXPECT_EQ(DictGetValue(d.get(), nullptr, "e", "def", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(DictGetValue(d.get(), nullptr, "m", "def", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "def");
  EXPECT_EQ(DictGetValue(d.get(), nullptr, "k", "def", buf, 3), 2);  // the buffer's allowance
  EXPECT_STREQ(buf, "ab");
}

TEST(DictText, ValueInjectionLeavesOtherKeysAlone) {
  LumDict dict;
  dict.setStringForKey("node", "host");
  dict.setStringForKey("x", "x\nnode=evil");
  dict.setStringForKey("y", "y{\nnode=evil");
  dict.setStringForKey("port", "23");
  EXPECT_EQ(dict.stringValueForKey("node"), "host");
  EXPECT_EQ(dict.stringValueForKey("x"), "x");
  EXPECT_EQ(dict.stringValueForKey("y"), "y");
  EXPECT_EQ(dict.intValueForKey("port"), 23);

  LumDict fresh;  // injected before the real key is ever stored
  fresh.setStringForKey("x", "x\nnode=evil");
  EXPECT_EQ(fresh.charValueForKey("node"), nullptr);
  EXPECT_EQ(fresh.text(), "[(null)]\nx=x\n");
}

TEST(DictText, EntryLengthLimit) {
  const std::string key = "abcdefghij";  // 10 bytes
  LumDict dict;
  dict.setStringForKey(key.c_str(), std::string(1012, 'v').c_str());
  EXPECT_EQ(dict.stringValueForKey(key.c_str()), std::string(1012, 'v'));
  dict.setStringForKey(key.c_str(), std::string(1013, 'w').c_str());
  EXPECT_EQ(dict.text(), "[(null)]\n" + key + "=\n");
  ASSERT_NE(dict.charValueForKey(key.c_str()), nullptr);
  EXPECT_STREQ(dict.charValueForKey(key.c_str()), "");

  // A longer value written by hand reads back as its first 1023 bytes.
  Dict d = make("[s]\nk=" + std::string(2000, 'z') + "\n");
  EXPECT_EQ(get(d.get(), "k"), std::string(1023, 'z'));
}

TEST(DictText, CapacityCutsWholeLines) {
  Dict d(DictCreate(64));
  ASSERT_EQ(d->rb.maxsize, 64u);
  for (int i = 0; i < 8; i++) {
    std::string key = "key" + std::to_string(i);
    EXPECT_TRUE(DictSetValue(d.get(), nullptr, key.c_str(), "0123456789"));  // success even when cut
    ASSERT_LE(d->rb.size, 64u);
    ASSERT_EQ(d->rb.buf[d->rb.size - 1], '\n');
  }
  EXPECT_EQ(text_of(d.get()), "[(null)]\nkey0=0123456789\nkey1=0123456789\nkey2=0123456789\n");
  EXPECT_EQ(get(d.get(), "key3"), "<missing>");
  // A store that grows an entry past the end drops what follows, never part of a line.
  DictSetValue(d.get(), nullptr, "key0", "01234567890123456789");
  EXPECT_EQ(text_of(d.get()), "[(null)]\nkey0=01234567890123456789\nkey1=0123456789\n");

  Dict zero(DictCreate(0));
  EXPECT_EQ(zero->rb.maxsize, DICT_DEFAULT_CAPACITY);
}

class DictFile : public testing::Test {
 protected:
  std::string path_ = testing::TempDir() + "dict_" + std::to_string(getpid()) + ".ini";
  void TearDown() override { unlink(path_.c_str()); }
  void write(const std::string& text) {
    FILE* f = fopen(path_.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
};

TEST_F(DictFile, ReadSaveAndCopy) {
  write("[settings]\r\nnode=host\r\nport=23\r\n");
  LumDict dict(path_.c_str());
  ASSERT_TRUE(dict.isValid());
  EXPECT_EQ(dict.stringValueForKey("node"), "host");
  dict.setIntForKey("port", 992);
  EXPECT_EQ(dict.text(), "[settings]\nnode=host\nport=992\n");

  LumDict copy(dict);
  copy.setStringForKey("node", "other");
  EXPECT_EQ(dict.stringValueForKey("node"), "host");
  EXPECT_EQ(copy.stringValueForKey("node"), "other");

  ASSERT_TRUE(copy.saveDict(path_.c_str()));
  LumDict again(path_.c_str());
  EXPECT_EQ(again.text(), copy.text());
}

TEST(LumDictTyped, GettersAndSetters) {
  LumDict dict;
  dict.setIntForKey("lines", -42);
  dict.setBoolForKey("wrap", true);
  dict.setBoolForKey("echo", false);
  dict.setFloatForKey("ratio", 0.25);
  dict.setStringForKey("yes", "yes");
  dict.setStringForKey("true", "true");
  dict.setStringForKey("mixed", "12abc");
  dict.setStringForKey("blanks", "   7");
  dict.setStringForKey("huge", "123456789012345678901234");
  dict.setStringForKey("hexf", "0x10");
  dict.setStringForKey("exp", "1.5e2xyz");
  EXPECT_EQ(dict.text(),
            "[(null)]\nlines=-42\nwrap=1\necho=0\nratio=0.25\nyes=yes\ntrue=true\nmixed=12abc\nblanks=   7\n"
            "huge=123456789012345678901234\nhexf=0x10\nexp=1.5e2xyz\n");
  EXPECT_EQ(dict.intValueForKey("lines"), -42);
  EXPECT_EQ(dict.stringValueForKey("lines"), "-42");
  EXPECT_TRUE(dict.boolValueForKey("wrap"));
  EXPECT_FALSE(dict.boolValueForKey("echo"));
  EXPECT_FALSE(dict.boolValueForKey("yes"));
  EXPECT_FALSE(dict.boolValueForKey("true"));
  EXPECT_DOUBLE_EQ(dict.floatValueForKey("ratio"), 0.25);
  EXPECT_EQ(dict.intValueForKey("mixed"), 12);
  EXPECT_EQ(dict.intValueForKey("blanks"), 7);
  EXPECT_EQ(dict.intValueForKey("huge"), INT_MAX);
  EXPECT_DOUBLE_EQ(dict.floatValueForKey("hexf"), 0);
  EXPECT_DOUBLE_EQ(dict.floatValueForKey("exp"), 150);
  EXPECT_DOUBLE_EQ(dict.floatValueForKey("mixed"), 12);
  EXPECT_EQ(dict.intValueForKey("missing"), 0);
  EXPECT_DOUBLE_EQ(dict.floatValueForKey("missing"), 0);
  EXPECT_EQ(dict.stringValueForKey("missing"), "");
  EXPECT_EQ(dict.charValueForKey("missing"), nullptr);
  EXPECT_STREQ(dict.charValueForKey("LINES"), "-42");
}

TEST(LumDictTyped, WithoutStorage) {
  LumDict dict("/nonexistent/dir/settings.ini");
  EXPECT_FALSE(dict.isValid());
  dict.setStringForKey("node", "x");
  dict.setIntForKey("port", 1);
  EXPECT_EQ(dict.stringValueForKey("node"), "");
  EXPECT_EQ(dict.intValueForKey("port"), 0);
  EXPECT_EQ(dict.charValueForKey("node"), nullptr);
  EXPECT_FALSE(dict.boolValueForKey("port"));
  EXPECT_FALSE(dict.saveDict("/nonexistent/dir/out.ini"));
  LumDict copy(dict);
  EXPECT_FALSE(copy.isValid());
}

}  // namespace
