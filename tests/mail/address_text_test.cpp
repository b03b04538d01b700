#include "mail/address_text.h"

#include <string>

#include <gtest/gtest.h>

namespace jw {
namespace {

TEST(NthPos, CountsOverlappingOccurrencesFromEitherEnd) {
  const struct {
    std::string search;
    std::string text;
    int n;
    int position;
  } cases[] = {
      {"@", "a@b@c", 1, 2},  {"@", "a@b@c", 2, 4},  {"@", "a@b@c", 3, 6},  {"@", "a@b@c", -1, 4},
      {"@", "a@b@c", -2, 2}, {"@", "a@b@c", -3, 0}, {"@", "a@b@c", 0, 0},  {"aa", "aaaa", 2, 2},
      {"aa", "aaaa", 3, 3},  {"aa", "aaaa", 4, 5},  {"aa", "aaaa", -1, 3}, {"aa", "aaaa", -3, 1},
      {"", "abc", 1, 4},     {"", "abc", -1, 0},    {"@", "", 1, 1},       {"abcd", "abc", 1, 4},
      {"abc", "abc", 1, 1},  {"abc", "abc", -1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NthPos(c.search, c.text, c.n), c.position)
        << "'" << c.search << "' in '" << c.text << "' n=" << c.n;
  }
}

TEST(FileNameOf, TakesThePartAfterTheLastSeparator) {
  const struct {
    std::string path;
    std::string name;
  } cases[] = {
      {"C:\\dir\\pic.jpg", "pic.jpg"},
      {"A:pic.jpg", "pic.jpg"},
      {"/home/ann/pic.jpg", "pic.jpg"},
      {"dir/sub\\pic.jpg", "pic.jpg"},
      {"C:\\dir/x:y", "x:y"},
      {"pic.jpg", "pic.jpg"},
      {"/home/ann/", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
}

TEST(AddressFrom, PicksTheNthAddressOfAFreeTextList) {
  const struct {
    std::string text;
    int n;
    std::string address;
  } cases[] = {
      {"Ann Smith <ann@x.org>", 1, "ann@x.org"},
      {"Ann Smith <ann@x.org>", 2, ""},
      {"ann@x.org, bob@y.org", 1, "ann@x.org"},
      {"ann@x.org, bob@y.org", 2, "bob@y.org"},
      {"ann@x.org;bob@y.org", 2, "bob@y.org"},
      {"\"ann@x.org\" (Ann)", 1, "ann@x.org"},
      {"(ann@x.org)", 1, "ann@x.org"},
      {"<<ann@x.org>>", 1, "ann@x.org"},
      {"plain@host", 1, "plain@host"},
      {"no address here", 1, ""},
      {"", 1, ""},
      {"ann@x.org", 0, ""},
      {"Ann <ann@x.org>, Bob <bob@y.org>", 2, "bob@y.org"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddressFrom(c.text, c.n), c.address) << c.text << " n=" << c.n;
  }
}

}  // namespace
}  // namespace jw
