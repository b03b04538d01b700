// Field definitions filled on demand, and the search for an index over
// given fields.
#include <gtest/gtest.h>

#include "array_data_set.h"

namespace jw {
namespace {

TEST(DefinitionsTest, FieldDefsOfAClosedDataSetComeFromACursorOpenedForThem) {
  TArrayDataSet dataset(nullptr, {{"Name", ftString, 12}, {"Count", ftInteger}});
  dataset.FieldDefs().Update();
  EXPECT_FALSE(dataset.Active());
  EXPECT_EQ(dataset.close_cursor_calls, 1);
  ASSERT_EQ(dataset.FieldDefs().Count(), 2);
  const TFieldDef& name = dataset.FieldDefs().Find("NAME");
  EXPECT_EQ(name.DataType(), ftString);
  EXPECT_EQ(name.Size(), 12);
  EXPECT_EQ(dataset.FieldDefs().Find("count").FieldNo(), 2);
  dataset.FieldDefs().Update();  // up to date: no second cursor
  EXPECT_EQ(dataset.close_cursor_calls, 1);
  try {
    dataset.FieldDefs().Find("Missing");
    ADD_FAILURE() << "found a definition that does not exist";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Field 'Missing' not found");
  }
}

TEST(DefinitionsTest, IndexForFieldsPrefersAnExactListThenALeadingOne) {
  TArrayDataSet dataset(nullptr, {});
  TIndexDefs& defs = dataset.IndexDefs();
  defs.Add("ByNameDesc", "Name", {ixDescending});
  defs.Add("ByNameCity", "Name;City", {});
  defs.Add("ByNameNoCase", "NAME", {ixCaseInsensitive});
  defs.Add("ByCityZip", "City;Zip", {ixCaseInsensitive});
  defs.Add("ByCityZipCode", "City;ZipCode", {});
  const struct {
    const char* fields;
    bool case_insensitive;
    const char* expected;  // null: none
  } cases[] = {
      {"name", false, "ByNameNoCase"},  // exact before leading; descending never
      {"Name;City", false, "ByNameCity"},
      {"Name", true, "ByNameNoCase"},
      {"City", false, "ByCityZip"},  // leading whole names
      {"City;Zip", true, "ByCityZip"},
      {"City;ZipCode", true, nullptr},  // only a case-sensitive index has them
      {"City;Zi", false, nullptr},      // a part of a name is not a name
      {"Zip", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fields);
    const TIndexDef* def = defs.GetIndexForFields(c.fields, c.case_insensitive);
    if (c.expected == nullptr) {
      EXPECT_EQ(def, nullptr);
    } else {
      ASSERT_NE(def, nullptr);
      EXPECT_EQ(def->Name(), c.expected);
    }
  }
  EXPECT_EQ(defs.FindIndexForFields("Name;City").Name(), "ByNameCity");
  try {
    defs.FindIndexForFields("Zip");
    ADD_FAILURE() << "found an index for a field no index leads with";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "No index for fields 'Zip'");
  }
  EXPECT_EQ(defs.Find("bycityzip").Fields(), "City;Zip");
}

}  // namespace
}  // namespace jw
