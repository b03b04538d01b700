#include "engine/support/engine_strings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace jw {
namespace {

TEST(ShortStrings, PaddingAndCutting) {
  EXPECT_EQ(PadLeft("42", 5, '0'), "00042");
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadLeft("0123456789", 5, ' '), "0123456789");
  EXPECT_EQ(PadRight("0123456789", 5, ' '), "0123456789");
  EXPECT_EQ(PadLeft("x", 300, '-').size(), 255u);
  EXPECT_EQ(RepeatString("ab", 3), "ababab");
  EXPECT_EQ(RepeatString("ab", 0), "");
  EXPECT_EQ(RepeatString("abc", 100).size(), 255u);
  EXPECT_EQ(LeftChars("abcdef", 2), "ab");
  EXPECT_EQ(LeftChars("ab", 5), "ab");
  EXPECT_EQ(RightChars("abcdef", 2), "ef");
  EXPECT_EQ(RightChars("ab", 5), "ab");
  EXPECT_EQ(RightChars("ab", 0), "");
  EXPECT_EQ(LastPos("ab", "xabyab"), 5);
  EXPECT_EQ(LastPos("zz", "xabyab"), 0);
  EXPECT_EQ(LastPos("", "abc"), 0);
}

TEST(ZeroTerminatedStrings, TrimInPlace) {
  char both[] = "xxabcxx";
  TrimChar(both, 'x');
  EXPECT_STREQ(both, "abc");
  char lead[] = "  a b  ";
  TrimLeadingChar(lead, ' ');
  EXPECT_STREQ(lead, "a b  ");
  char trail[] = "  a b  ";
  TrimTrailingChar(trail, ' ');
  EXPECT_STREQ(trail, "  a b");
  char all[] = "xxxx";
  TrimChar(all, 'x');
  EXPECT_STREQ(all, "");
}

TEST(ZeroTerminatedStrings, SearchAndCount) {
  EXPECT_EQ(PosOf("lo", "hello lo"), 4);
  EXPECT_EQ(PosOf("zz", "hello"), 0);
  EXPECT_EQ(OccurrenceCount("aa", "aaaaa"), 2);
  EXPECT_EQ(OccurrenceCount("x", "abc"), 0);
  EXPECT_EQ(OccurrenceCount("", "abc"), 0);
  EXPECT_EQ(ReplacedLength("aa", "b", "aaaaa"), 3);
  EXPECT_EQ(ReplacedLength("a", "xyz", "banana"), 12);
  EXPECT_EQ(ReplacedLength("q", "xyz", "banana"), 6);
}

struct ReplaceCase {
  const char* old_text;
  const char* new_text;
  const char* source;
  const char* expected;
};

TEST(ZeroTerminatedStrings, ReplaceAllLeftToRightWithoutOverlap) {
  const ReplaceCase cases[] = {
      {"aa", "b", "aaaaa", "bba"},
      {"a", "xyz", "banana", "bxyznxyznxyz"},
      {"word", "word", "a word here", "a word here"},
      {"ab", "", "abcab", "c"},
      {"q", "z", "none", "none"},
      {"", "z", "keep", "keep"},
  };
  for (const ReplaceCase& c : cases) {
    std::vector<char> out(ReplacedLength(c.old_text, c.new_text, c.source) + 1, '#');
    ReplaceAll(c.old_text, c.new_text, c.source, out.data());
    EXPECT_STREQ(out.data(), c.expected) << c.source;
  }
}

struct LikeCase {
  const char* s;
  const char* pattern;
  bool match;
};

TEST(LikeMatch, Cases) {
  const LikeCase cases[] = {
      {"", "%", true},
      {"", "%%", true},
      {"abc", "abc%%", true},
      {"", "", true},
      {"a", "", false},
      {"abc", "___", true},
      {"ab", "___", false},
      {"abcd", "___", false},
      {"ab", "abc", false},
      {"abc", "a%c", true},
      {"abxbc", "a%bc", true},
      {"aXbXc", "a%b%c", true},
      {"abc", "%b", false},
      {"abc", "%c", true},
      {"ABC", "abc", false},
      {"a%c", "a%c", true},
      {"a_c", "a_c", true},
      {"abcbd", "%b_", true},
      {"mississippi", "%iss%pi", true},
      {"mississippi", "m%ss%ss%", true},
  };
  for (const LikeCase& c : cases) {
    EXPECT_EQ(LikeMatch(c.s, c.pattern), c.match) << "'" << c.s << "' LIKE '" << c.pattern << "'";
  }
}

TEST(LikeMatch, CharacterComparisonIsTheCallers) {
  const auto ignore_case = [](char a, char b) { return std::tolower(a) == std::tolower(b); };
  EXPECT_TRUE(LikeMatch("ABC", "a%c", ignore_case));
  EXPECT_FALSE(LikeMatch("ABD", "a%c", ignore_case));
}

std::string RandomText(std::mt19937& random, const char* alphabet, int max_length) {
  const int n = std::uniform_int_distribution<int>(0, max_length)(random);
  const size_t letters = std::char_traits<char>::length(alphabet);
  std::string s;
  for (int i = 0; i < n; ++i) s += alphabet[random() % letters];
  return s;
}

// SQLite's LIKE with case-sensitive matching is an independent oracle.
TEST(LikeMatch, AgreesWithSqlite) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  const int count = 100000;
  std::vector<std::pair<std::string, std::string>> pairs;
  char script_name[] = "/tmp/jw_like_XXXXXX";
  const int fd = mkstemp(script_name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream script(script_name);
    script << "PRAGMA case_sensitive_like=ON;\n";
    for (int i = 0; i < count; ++i) {
      pairs.emplace_back(RandomText(random, "aabbc%_", 8), RandomText(random, "ab%%__c", 6));
      script << "SELECT '" << pairs.back().first << "' LIKE '" << pairs.back().second << "';\n";
    }
  }
  const std::string command = std::string("sqlite3 :memory: < ") + script_name;
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::vector<int> answers;
  char line[16];
  while (std::fgets(line, sizeof line, out) != nullptr) answers.push_back(std::atoi(line));
  const int status = pclose(out);
  std::remove(script_name);
  ASSERT_EQ(status, 0) << "sqlite3 must be installed (scripts/install-deps.sh)";
  ASSERT_EQ(answers.size(), pairs.size());
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(LikeMatch(pairs[i].first.c_str(), pairs[i].second.c_str()), answers[i] == 1)
        << "'" << pairs[i].first << "' LIKE '" << pairs[i].second << "' seed " << seed;
  }
}

TEST(Quotes, StripDoubledQuotesShrinksEveryRun) {
  EXPECT_EQ(StripDoubledQuotes("a\"\"b''c"), "a\"b'c");
  EXPECT_EQ(StripDoubledQuotes("\"\"\"\"x''''"), "\"x'");
  EXPECT_EQ(StripDoubledQuotes("'\"'"), "'\"'");
  EXPECT_EQ(StripLineBreaks("a\r\nb\nc\r"), "abc");
}

TEST(Quotes, UndoubleQuoteUnescapesOnlyTheDelimiter) {
  EXPECT_EQ(UndoubleQuote("it''s", '\''), "it's");
  EXPECT_EQ(UndoubleQuote("''''", '\''), "''");
  EXPECT_EQ(UndoubleQuote("say \"\"hi\"\"", '\''), "say \"\"hi\"\"");
  EXPECT_EQ(UndoubleQuote("a\"\"b", '"'), "a\"b");
}

TEST(FileNames, ExtensionsAndFolders) {
  EXPECT_EQ(RemoveFileExt("/data/scraps.DAT"), "/data/scraps");
  EXPECT_EQ(RemoveFileExt("/da.ta/scraps"), "/da.ta/scraps");
  EXPECT_EQ(RemoveFileExt("a.b.c"), "a.b");
  EXPECT_EQ(BaseFileName("/data/scraps.DAT"), "scraps");
  EXPECT_EQ(BaseFileName("/data/.DAT"), "");
  EXPECT_EQ(ForceFileExt(" /data/scraps ", ".DAT"), "/data/scraps.DAT");
  EXPECT_EQ(ForceFileExt("/data/scraps.dat", ".DAT"), "/data/scraps.dat");
  EXPECT_EQ(ForceFileExt("/data/scraps.IDX", ".DAT"), "/data/scraps.DAT");
  EXPECT_EQ(AddTrailingBackslash(" /data "), "/data/");
  EXPECT_EQ(AddTrailingBackslash("/data/"), "/data/");
  EXPECT_EQ(AddTrailingBackslash("  "), "");
  EXPECT_TRUE(IsEmptyOrPathName(""));
  EXPECT_TRUE(IsEmptyOrPathName("data/x"));
  EXPECT_TRUE(IsEmptyOrPathName("c:x"));
  EXPECT_FALSE(IsEmptyOrPathName("scraps.DAT"));
}

}  // namespace
}  // namespace jw
