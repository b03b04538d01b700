// Helpers of the binding and evaluation tests: a table of typed columns
// with one row of values (the column resolver and value callback that the
// storage core supplies in production), the text forms of values, and a
// parse-bind-evaluate pipeline.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/expression_binder.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_parser.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw::test_support {

struct TestColumn {
  std::string name;
  uint8_t type = 0;
  uint8_t subtype = 0;
  int32_t size = 0;
  uint8_t scale = 0;
  bool is_null = true;
  std::vector<uint8_t> value;
};

// Value text: strings in single quotes, True/False, integers, floats,
// BCD as a decimal number, dates yyyy-mm-dd, times hh:mm:ss.zzz,
// timestamps "yyyy-mm-dd hh:mm:ss.zzz", NULL.
inline std::vector<uint8_t> ValueFromText(const std::string& text, uint8_t type, uint8_t scale) {
  std::vector<uint8_t> bytes(8, 0);
  auto put = [&](auto v) { std::memcpy(bytes.data(), &v, sizeof v); };
  auto date_of = [](const std::string& t) {
    int y = 0, m = 0, d = 0;
    std::sscanf(t.c_str(), "%d-%d-%d", &y, &m, &d);
    return DateTimeToTimeStamp(EncodeDate(y, m, d)).Date;
  };
  auto time_of = [](const std::string& t) {
    int h = 0, n = 0, s = 0, z = 0;
    std::sscanf(t.c_str(), "%d:%d:%d.%d", &h, &n, &s, &z);
    return ((h * 60 + n) * 60 + s) * 1000 + z;
  };
  switch (type) {
    case kFldString:
    case kFldBlob: {
      const std::string body = text.size() >= 2 ? text.substr(1, text.size() - 2) : text;
      bytes.assign(body.begin(), body.end());
      bytes.push_back(0);
      break;
    }
    case kFldBoolean:
      put(static_cast<int16_t>(text == "True" ? 1 : 0));
      break;
    case kFldSmallInt:
    case kFldWord:
      put(static_cast<int16_t>(std::stoi(text)));
      break;
    case kFldInteger:
      put(static_cast<int32_t>(std::stoll(text)));
      break;
    case kFldFloat:
      put(std::stod(text));
      break;
    case kFldBcd:
      put(CurrencyToBcd(scale, StrToCurr(text)));
      break;
    case kFldDate:
      put(date_of(text));
      break;
    case kFldTime:
      put(time_of(text));
      break;
    case kFldTimeStamp: {
      const size_t blank = text.find(' ');
      put(static_cast<double>(date_of(text.substr(0, blank))) * kMSecsPerDay +
          time_of(text.substr(blank + 1)));
      break;
    }
    default:
      break;
  }
  return bytes;
}

inline std::string DateText(int32_t day) {
  int y = 0, m = 0, d = 0;
  DecodeDate(static_cast<double>(day) - kDateDelta, y, m, d);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, d);
  return buffer;
}

inline std::string TimeText(int32_t ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return buffer;
}

// The text form of a node's value, as ValueFromText reads it.
inline std::string ValueToText(const TExpToken& node) {
  if (node.IsNull) return "NULL";
  const uint8_t* v = node.Value();
  auto get = [v](auto sample) {
    std::memcpy(&sample, v, sizeof sample);
    return sample;
  };
  char buffer[64];
  switch (node.Type) {
    case kFldString:
    case kFldBlob:
      return "'" + std::string(reinterpret_cast<const char*>(v)) + "'";
    case kFldBoolean:
      return get(int16_t()) != 0 ? "True" : "False";
    case kFldSmallInt:
      return std::to_string(get(int16_t()));
    case kFldWord:
      return std::to_string(get(uint16_t()));
    case kFldInteger:
      return std::to_string(get(int32_t()));
    case kFldFloat:
      std::snprintf(buffer, sizeof buffer, "%.15g", get(double()));
      return buffer;
    case kFldBcd:
      return CurrToStr(BcdToCurrency(get(int64_t())));
    case kFldDate:
      return DateText(get(int32_t()));
    case kFldTime:
      return TimeText(get(int32_t()));
    case kFldTimeStamp: {
      const double ms = get(double());
      const auto day = static_cast<int32_t>(ms / kMSecsPerDay);
      return DateText(day) + " " + TimeText(static_cast<int32_t>(ms - double(day) * kMSecsPerDay));
    }
    default:
      return "?";
  }
}

// A table with one row. Column callbacks are logged by name.
class TestTable {
 public:
  // Columns separated by ';', each "name type[.subtype] size scale = value".
  explicit TestTable(const std::string& spec) {
    for (const std::string& part : Split(spec, ';')) {
      if (Trim(part).empty()) continue;
      const size_t eq = part.find('=');
      TestColumn column;
      char name[64] = {};
      int type = 0, subtype = 0, size = 0, scale = 0;
      const std::string head = part.substr(0, eq);
      if (std::sscanf(head.c_str(), " %63s %d.%d %d %d", name, &type, &subtype, &size, &scale) !=
          5) {
        subtype = 0;
        std::sscanf(head.c_str(), " %63s %d %d %d", name, &type, &size, &scale);
      }
      column.name = name;
      column.type = static_cast<uint8_t>(type);
      column.subtype = static_cast<uint8_t>(subtype);
      column.size = size;
      column.scale = static_cast<uint8_t>(scale);
      const std::string value = eq == std::string::npos ? "NULL" : Trim(part.substr(eq + 1));
      column.is_null = value == "NULL";
      if (!column.is_null) column.value = ValueFromText(value, column.type, column.scale);
      columns.push_back(column);
    }
  }

  static bool Resolve(void* context, TExpToken* node) {
    auto* table = static_cast<TestTable*>(context);
    for (size_t i = 0; i < table->columns.size(); ++i) {
      const TestColumn& column = table->columns[i];
      if (!SameText(column.name, node->ColumnName)) continue;
      node->FieldNumber = static_cast<int16_t>(i + 1);
      node->Type = column.type;
      node->Subtype = column.subtype;
      node->SetValueSize(column.size);
      node->Scale = column.scale;
      return true;
    }
    return false;
  }

  static void Value(void* context, const void*, TExpToken* node) {
    auto* table = static_cast<TestTable*>(context);
    const TestColumn& column = table->columns.at(node->FieldNumber - 1);
    table->log.push_back(column.name);
    node->IsNull = column.is_null;
    if (column.is_null) return;
    // Strings and BLOBs bring their own length; fixed types keep the
    // column's size.
    size_t length = column.value.size();
    if (column.type == kFldString || column.type == kFldBlob) {
      node->SetValueSize(std::max(node->Size(), static_cast<int32_t>(length)));
    } else {
      length = static_cast<size_t>(column.size);
    }
    std::memcpy(node->Value(), column.value.data(), length);
  }

  std::vector<TestColumn> columns;
  std::vector<std::string> log;

 private:
  static std::vector<std::string> Split(const std::string& s, char c) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
      if (i == s.size() || s[i] == c) {
        parts.push_back(s.substr(start, i - start));
        start = i + 1;
      }
    }
    return parts;
  }
  static std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
  }
};

constexpr uint8_t kAllParseFlags =
    kParseAggregates | kParseAllColumns | kParseExtended | kParseParameters;

// Parses and binds the text against the table (filter error code 10051,
// table "T", context "filter expression"). The caller frees the tree.
inline TExpToken* ParseAndBind(const std::string& text, TestTable& table, bool condition = false) {
  TExpressionParser parser;
  parser.SetErrorCode(kErrFilter);
  parser.SetObjectName("T");
  parser.SetContextName("filter expression");
  parser.SetText(text.c_str());
  parser.NextToken();
  TExpToken* root = parser.ParseExpression(kAllParseFlags);
  try {
    BindExpression(kErrFilter, "T", "filter expression", condition, &TestTable::Resolve, &table,
                   nullptr, root);
  } catch (...) {
    FreeTokenTree(root);
    throw;
  }
  return root;
}

}  // namespace jw::test_support
