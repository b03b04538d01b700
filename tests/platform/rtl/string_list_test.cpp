#include "platform/rtl/string_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using Lines = std::vector<std::string>;

Lines Items(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

void Fill(TStrings& list, const Lines& lines) {
  list.Clear();
  for (const std::string& line : lines) list.Add(line);
}

using test_support::ErrorText;

TEST(StringListText, SplitsOnCrLfCrAndLfWithoutAnEmptyLineForATrailingBreak) {
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n\n", {"", ""}},
      {" x \t", {" x \t"}},
      {std::string("a\0b", 3), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add("old");
    list.SetText(c.text);
    EXPECT_EQ(Items(list), c.lines) << "text: " << c.text;
  }
}

TEST(StringListText, EveryLineIsFollowedByCrLf) {
  TStringList list;
  EXPECT_EQ(list.Text(), "");
  Fill(list, {"a", "", "b"});
  EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
  list.SetText(list.Text());
  EXPECT_EQ(Items(list), (Lines{"a", "", "b"}));
}

TEST(StringListText, StreamsWriteCrLfLinesAndReadFromThePosition) {
  TStringList list;
  Fill(list, {"one", "two"});
  TMemoryStream stream;
  stream.WriteBuffer("XY", 2);
  list.SaveToStream(stream);
  EXPECT_EQ(std::string(static_cast<const char*>(stream.Memory()), stream.Size()),
            "XYone\r\ntwo\r\n");

  stream.SetPosition(2);
  TStringList read;
  read.LoadFromStream(stream);
  EXPECT_EQ(Items(read), (Lines{"one", "two"}));
  EXPECT_EQ(stream.Position(), stream.Size());

  TMemoryStream unix_text;
  unix_text.WriteBuffer("a\nb\n", 4);
  unix_text.SetPosition(0);
  read.LoadFromStream(unix_text);
  EXPECT_EQ(Items(read), (Lines{"a", "b"}));
}

TEST(StringListText, FilesRoundTripAndAMissingFileRaisesOpenError) {
  char folder[] = "/tmp/jw_string_list_XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/lines.txt";
  TStringList list;
  Fill(list, {"first", "", "last"});
  list.SaveToFile(path);
  TStringList read;
  read.LoadFromFile(path);
  EXPECT_EQ(Items(read), Items(list));
  ::unlink(path.c_str());
  EXPECT_EQ(ErrorText<EFOpenError>([&] { read.LoadFromFile(path); }),
            "Cannot open file \"" + path + "\". No such file or directory");
  ::rmdir(folder);
}

TEST(StringListCommaText, QuotesItemsWithBlanksCommasAndQuotes) {
  const struct {
    Lines items;
    std::string text;
  } cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"a", "b"}, "a,b"},
      {{"a b"}, "\"a b\""},
      {{"a,b"}, "\"a,b\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\tx"}, "\"tab\tx\""},
      {{"", "x", ""}, ",x,"},
      {{"caf\xC3\xA9"}, "caf\xC3\xA9"},
      {{"a=b", "c"}, "a=b,c"},
  };
  for (const auto& c : cases) {
    TStringList list;
    Fill(list, c.items);
    EXPECT_EQ(list.CommaText(), c.text);
  }
}

TEST(StringListCommaText, ReadsQuotedAndBareItems) {
  const struct {
    std::string text;
    Lines items;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"a,b", {"a", "b"}},
      {"a b", {"a", "b"}},
      {" a , b ", {"a", "b"}},
      {"\"a b\",c", {"a b", "c"}},
      {"\"x\"\"y\"", {"x\"y"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {",a", {"", "a"}},
      {"\"\"", {""}},
      {"\"open", {"open"}},
      {"x\"y", {"x\"y"}},
      {"\"a\"b", {"a", "b"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add("old");
    list.SetCommaText(c.text);
    EXPECT_EQ(Items(list), c.items) << "text: " << c.text;
  }
}

TEST(StringListCommaText, RoundTripsAnyItems) {
  const Lines pieces = {"", "a", " ", ",", "\"", "b c", "\t", "x\"\"y", "="};
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Lines items;
    const int count = 2 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      items.push_back(pieces[random() % pieces.size()] + pieces[random() % pieces.size()]);
    }
    TStringList list;
    Fill(list, items);
    TStringList back;
    back.SetCommaText(list.CommaText());
    EXPECT_EQ(Items(back), items) << list.CommaText();
  }
}

TEST(StringListValues, NamesAndValuesSplitAtTheFirstEqualSign) {
  TStringList list;
  Fill(list, {"Host=mail.example.org", "plain", "Key=a=b", "host=second", "Empty="});
  EXPECT_EQ(list.Names(0), "Host");
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.Names(2), "Key");
  EXPECT_EQ(list.Values("HOST"), "mail.example.org");
  EXPECT_EQ(list.Values("key"), "a=b");
  EXPECT_EQ(list.Values("plain"), "");
  EXPECT_EQ(list.Values("Empty"), "");
  EXPECT_EQ(list.IndexOfName("empty"), 4);
  EXPECT_EQ(list.IndexOfName("missing"), -1);

  list.SetValues("HOST", "other");
  EXPECT_EQ(list.Strings(0), "HOST=other");
  list.SetValues("New", "1");
  EXPECT_EQ(list.Strings(list.Count() - 1), "New=1");
  list.SetValues("Key", "");
  EXPECT_EQ(Items(list), (Lines{"HOST=other", "plain", "host=second", "Empty=", "New=1"}));
  EXPECT_EQ(list.Values("host"), "other");
}

TEST(StringListSorted, AddsInOrderAndAppliesTheDuplicatesRule) {
  TStringList list;
  list.SetSorted(true);
  for (const char* s : {"pear", "Apple", "fig", "banana"}) list.Add(s);
  EXPECT_EQ(Items(list), (Lines{"Apple", "banana", "fig", "pear"}));

  int index = -1;
  EXPECT_TRUE(list.Find("FIG", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list.Find("cherry", index));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(list.IndexOf("PEAR"), 3);

  EXPECT_EQ(list.Add("APPLE"), 0);  // dupIgnore: the existing index
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Strings(0), "Apple");

  list.SetDuplicates(dupError);
  EXPECT_EQ(ErrorText<EListError>([&] { list.Add("apple"); }),
            "String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 4);

  list.SetDuplicates(dupAccept);
  list.Add("apple");
  EXPECT_EQ(list.Count(), 5);
  EXPECT_TRUE(SameText(list.Strings(1), "apple"));

  EXPECT_EQ(ErrorText<EListError>([&] { list.Insert(0, "x"); }),
            "Operation not allowed on sorted string list");
  EXPECT_EQ(ErrorText<EListError>([&] { list.SetStrings(0, "x"); }),
            "Operation not allowed on sorted string list");
}

TEST(StringListSorted, CaseSensitiveTellsApartWhatOnlyCaseDistinguishes) {
  TStringList list;
  Fill(list, {"b", "B", "a"});
  EXPECT_EQ(list.IndexOf("B"), 0);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("B"), 1);
  list.SetSorted(true);
  EXPECT_EQ(Items(list), (Lines{"B", "a", "b"}));
  list.Add("A");
  EXPECT_EQ(Items(list), (Lines{"A", "B", "a", "b"}));
  list.SetCaseSensitive(false);
  EXPECT_TRUE(SameText(list.Strings(0), "a"));
  EXPECT_TRUE(SameText(list.Strings(3), "b"));
}

TEST(StringListSorted, MatchesAMultisetModel) {
  const int rounds = std::getenv("JW_LONG_TESTS") ? 20000 : 1000;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  const auto less = [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  };
  std::multiset<std::string, decltype(less)> model(less);
  TStringList list;
  list.SetSorted(true);
  list.SetDuplicates(dupAccept);
  const char* words[] = {"a", "A", "ab", "aB", "b", "ba", "", "Z", "z1"};
  for (int round = 0; round < rounds; ++round) {
    const std::string word = words[random() % std::size(words)];
    if (random() % 3 != 0) {
      list.Add(word);
      model.insert(word);
    } else {
      int index;
      const bool found = list.Find(word, index);
      ASSERT_EQ(found, model.count(word) > 0) << "seed " << seed;
      if (found) {
        list.Delete(index);
        model.erase(model.find(word));
      }
    }
    ASSERT_EQ(list.Count(), static_cast<int>(model.size())) << "seed " << seed;
    int i = 0;
    for (const std::string& expected : model) {
      ASSERT_TRUE(SameText(list.Strings(i++), expected)) << "seed " << seed;
    }
  }
}

TEST(StringListEdits, IndexErrorsNameTheIndex) {
  TStringList list;
  Fill(list, {"a", "b"});
  EXPECT_EQ(ErrorText<EListError>([&] { list.Strings(2); }), "List index out of bounds (2)");
  EXPECT_EQ(ErrorText<EListError>([&] { list.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorText<EListError>([&] { list.Insert(3, "x"); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText<EListError>([&] { list.Objects(5); }), "List index out of bounds (5)");
  list.Insert(2, "c");
  EXPECT_EQ(Items(list), (Lines{"a", "b", "c"}));
}

TEST(StringListEdits, AssignCopiesTextsAndObjectsExchangeAndSortMoveBoth) {
  int one = 1, two = 2;
  TStringList source;
  source.AddObject("zeta", &one);
  source.AddObject("Alpha", &two);
  TStringList copy;
  copy.Add("gone");
  copy.Assign(source);
  EXPECT_EQ(Items(copy), (Lines{"zeta", "Alpha"}));
  EXPECT_EQ(copy.Objects(1), &two);
  EXPECT_EQ(copy.IndexOfObject(&one), 0);

  TStringList through_persistent;
  through_persistent.Assign(static_cast<TPersistent*>(&source));
  EXPECT_EQ(Items(through_persistent), (Lines{"zeta", "Alpha"}));
  EXPECT_THROW(through_persistent.Assign(nullptr), EConvertError);

  copy.Exchange(0, 1);
  EXPECT_EQ(Items(copy), (Lines{"Alpha", "zeta"}));
  EXPECT_EQ(copy.Objects(0), &two);
  source.Sort();
  EXPECT_EQ(Items(source), (Lines{"Alpha", "zeta"}));
  EXPECT_EQ(source.Objects(1), &one);
}

TEST(StringListEvents, UpdatesGroupChangesIntoOneEventPair) {
  TStringList list;
  std::string events;
  list.OnChanging = [&](TPersistent* sender) {
    EXPECT_EQ(sender, &list);
    events += "<";
  };
  list.OnChange = [&](TPersistent* sender) {
    EXPECT_EQ(sender, &list);
    events += ">";
  };
  list.Add("a");
  list.Delete(0);
  EXPECT_EQ(events, "<><>");

  events.clear();
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("a");
  list.Add("b");
  list.EndUpdate();
  EXPECT_EQ(events, "<");
  list.EndUpdate();
  EXPECT_EQ(events, "<>");

  events.clear();
  list.SetText("x\r\ny");
  list.SetCommaText("p,q");
  EXPECT_EQ(events, "<><>");
}

}  // namespace
}  // namespace jw
