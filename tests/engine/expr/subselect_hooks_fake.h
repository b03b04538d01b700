// A test double of the SQL engine's side of the expression language: it
// parses "SELECT <word>" as a whole sub-select, records parameter markers,
// and answers IN (SELECT ...) from a list of integer values. HooksScope
// registers it for one scope.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/expression_parser.h"
#include "engine/expr/subselect_hooks.h"
#include "engine/support/field_types.h"

namespace jw::test_support {

class FakeSqlHooks : public TSubSelectHooks {
 public:
  void* ParseSubSelect(void* owner, TExpressionParser& parser) override {
    owners.push_back(owner);
    EXPECT_TRUE(parser.IsKeyword("SELECT"));
    parser.NextToken();
    subselect_texts.push_back(parser.GetTokenText());
    parser.NextToken();
    return &query;
  }
  void AddParameter(void* owner, TExpToken* parameter) override {
    owners.push_back(owner);
    parameters.push_back(parameter);
  }
  int32_t SubSelectColumnCount(void* asked) override {
    EXPECT_EQ(asked, &query);
    return columns;
  }
  // The column is the word after SELECT, an integer.
  bool BindSubSelectColumn(void* asked, TExpToken& node) override {
    EXPECT_EQ(asked, &query);
    node.ColumnName = subselect_texts.empty() ? std::string() : subselect_texts.back();
    node.Type = kFldInteger;
    node.SetValueSize(4);
    return bindable;
  }
  int32_t SubSelectRecordCount(void* asked, const TExpToken& comparison) override {
    EXPECT_EQ(asked, &query);
    EXPECT_EQ(comparison.Code, kOpEqual);
    EXPECT_EQ(comparison.Right->Kind, kTokenSubSelect);
    int32_t value = 0;
    std::memcpy(&value, comparison.Left->Value(), sizeof value);
    seen.push_back(value);
    int32_t count = 0;
    for (int32_t v : values) count += v == value ? 1 : 0;
    return count;
  }

  int query = 0;
  std::vector<void*> owners;
  std::vector<std::string> subselect_texts;
  std::vector<TExpToken*> parameters;
  int32_t columns = 1;
  bool bindable = true;
  std::vector<int32_t> values{2, 4, 6};
  std::vector<int32_t> seen;
};

class HooksScope {
 public:
  explicit HooksScope(TSubSelectHooks* hooks) : previous_(SetSubSelectHooks(hooks)) {}
  ~HooksScope() { SetSubSelectHooks(previous_); }
  HooksScope(const HooksScope&) = delete;
  HooksScope& operator=(const HooksScope&) = delete;

 private:
  TSubSelectHooks* previous_;
};

}  // namespace jw::test_support
