#include "common/profile.h"

#include <string>

#include <gtest/gtest.h>

namespace crx {
namespace {

const char kResponse[] =
    "; response file\r\n"
    "ignored=before any section\r\n"
    "[Cratex]\r\n"
    "password = s3cret \r\n"
    "Quoted=\"  kept blanks  \"\r\n"
    "single='it''s'\r\n"
    "mixed=\"a'\r\n"
    "inner=a \"b\"\r\n"
    "empty=\r\n"
    "bare\r\n"
    "eq=a=b\r\n"
    "dup=first\r\n"
    "DUP=second\r\n"
    "; note=comment\r\n"
    "[Kestrova]\n"
    "Silent=1\n"
    "Count= -12xyz\n"
    "Hex=0x10\n"
    "Upper=0X10\n"
    "Word=yes\n"
    "Blank=\n"
    "Wrap=4294967295\n"
    "  [  Spaced Name ]  \n"
    "k=v\n"
    "[cratex]\n"
    "password=second section\n"
    "later=hidden\n";

TEST(Profile, LookupRules) {
  Profile p(kResponse);
  EXPECT_EQ(p.GetString("Cratex", "password", "-"), "s3cret");
  EXPECT_EQ(p.GetString("CRATEX", "PASSWORD", "-"), "s3cret");   // names ignore case
  EXPECT_EQ(p.GetString(" cratex ", " password ", "-"), "s3cret");
  EXPECT_EQ(p.GetString("Cratex", "Quoted", "-"), "  kept blanks  ");
  EXPECT_EQ(p.GetString("Cratex", "single", "-"), "it''s");
  EXPECT_EQ(p.GetString("Cratex", "mixed", "-"), "\"a'");        // quotes must match
  EXPECT_EQ(p.GetString("Cratex", "inner", "-"), "a \"b\"");
  EXPECT_EQ(p.GetString("Cratex", "empty", "-"), "");
  EXPECT_EQ(p.GetString("Cratex", "bare", "-"), "-");            // no '=': default
  EXPECT_EQ(p.GetString("Cratex", "eq", "-"), "a=b");
  EXPECT_EQ(p.GetString("Cratex", "dup", "-"), "first");         // first key wins
  EXPECT_EQ(p.GetString("Cratex", "later", "-"), "-");           // later section unseen
  EXPECT_EQ(p.GetString("Cratex", "missing", "-"), "-");
  EXPECT_EQ(p.GetString("Missing", "password", "dflt"), "dflt");
  EXPECT_EQ(p.GetString("Spaced Name", "k", "-"), "v");
  EXPECT_EQ(p.GetString("", "ignored", "-"), "before any section");
  EXPECT_EQ(p.GetString("Cratex", "", "-"), "");
  // The default loses trailing blanks and its own quotes.
  EXPECT_EQ(p.GetString("Cratex", "missing", "  d  "), "  d");
  EXPECT_EQ(p.GetString("Cratex", "missing", "   "), " ");
  EXPECT_EQ(p.GetString("Cratex", "missing", "\"q\""), "q");
}

TEST(Profile, ResultIsCutToTheBuffer) {
  Profile p("[S]\nv=0123456789\nq=\"abcdef\"\nlone=\"\n");
  const struct {
    const char* key;
    size_t size;
    const char* result;
  } kCases[] = {
      {"v", 0, ""},          {"v", 1, ""},         {"v", 2, "0"},
      {"v", 10, "012345678"}, {"v", 11, "0123456789"}, {"v", 32, "0123456789"},
      {"q", 3, "ab"},        {"q", 6, "abcde"},
      // The closing quote is dropped only when the cut reaches it, and then
      // it takes the last character with it when the buffer ends there.
      {"q", 7, "abcde"},     {"q", 8, "abcdef"},   {"q", 9, "abcdef"},
      {"lone", 5, "\""},
      {"missing", 4, "def"}, {"missing", 3, "de"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(p.GetString("S", c.key, "default", c.size), c.result)
        << c.key << " size " << c.size;
  }
  // The response-file rule: a 32-byte buffer keeps the first 31 bytes.
  std::string longer(40, 'x');
  Profile r("[Cratex]\npassword=" + longer + "\n");
  EXPECT_EQ(r.GetString("Cratex", "password", "-", 32), std::string(31, 'x'));
}

TEST(Profile, Integers) {
  Profile p(kResponse);
  EXPECT_EQ(p.GetInt("Kestrova", "Silent", -1), 1);
  EXPECT_EQ(p.GetInt("Kestrova", "Count", -1), -12);
  EXPECT_EQ(p.GetInt("Kestrova", "Hex", -1), 16);
  EXPECT_EQ(p.GetInt("Kestrova", "Upper", -1), 0);   // only a lower-case prefix counts
  EXPECT_EQ(p.GetInt("Kestrova", "Word", -1), 0);
  EXPECT_EQ(p.GetInt("Kestrova", "Blank", -1), -1);
  EXPECT_EQ(p.GetInt("Kestrova", "Wrap", 0), -1);
  EXPECT_EQ(p.GetInt("Kestrova", "Missing", 7), 7);
  EXPECT_EQ(p.GetInt("Nowhere", "Silent", 7), 7);
  Profile q("[N]\nq=\" +8\"\nbin=0b1012\noct=0o17\nlong=" + std::string(30, '0') + "12\n");
  EXPECT_EQ(q.GetInt("N", "q", 0), 8);
  EXPECT_EQ(q.GetInt("N", "bin", 0), 5);
  EXPECT_EQ(q.GetInt("N", "oct", 0), 15);
  EXPECT_EQ(q.GetInt("N", "long", 3), 0);  // read through a 30-character buffer
}

TEST(Profile, Listings) {
  Profile p(kResponse);
  EXPECT_EQ(p.Sections(), (std::vector<std::string>{"Cratex", "Kestrova", "Spaced Name"}));
  EXPECT_EQ(p.Keys("cratex"), (std::vector<std::string>{"password", "Quoted", "single", "mixed",
                                                        "inner", "empty", "eq", "dup"}));
  EXPECT_TRUE(p.Keys("Missing").empty());
  EXPECT_TRUE(p.HasSection("KESTROVA"));
  EXPECT_FALSE(p.HasSection("Missing"));
  EXPECT_FALSE(p.HasSection(""));
  EXPECT_TRUE(p.HasKey("Cratex", "empty"));
  EXPECT_FALSE(p.HasKey("Cratex", "bare"));
  EXPECT_FALSE(p.HasKey("Cratex", "later"));

  Profile none;
  EXPECT_TRUE(none.Sections().empty());
  EXPECT_EQ(none.GetString("a", "b", "c"), "c");
  EXPECT_EQ(none.GetInt("a", "b", 3), 3);
  // No line end at the end of the file, a byte-order mark and ^Z.
  Profile tail("\xEF\xBB\xBF[A]\r\nk=v\x1a");
  EXPECT_EQ(tail.GetString("A", "k", "-"), "v");
}

}  // namespace
}  // namespace crx
