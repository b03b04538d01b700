// The type rules against tables transcribed by hand from the rules' own
// statement, for every operator and every pair of types 0 .. 15 with the
// subtypes that matter (0, 21 money, 22 text BLOB, 29 auto-increment).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "engine/expr/expression_types.h"

namespace jw {
namespace {

using Set = std::set<int>;
const Set kNumeric = {5, 6, 7, 8, 12};
const int kSubtypes[] = {0, 21, 22, 29};

bool Has(const Set& set, int type) {
  return set.count(type) != 0;
}

bool Str(int type, int subtype) {
  return type == 1 || (type == 3 && subtype == 22);
}

// Operand rules, row by row as written.
bool ExpectedValid(int op, int lt, int ls, int rs, int rt) {
  switch (op) {
    case 3:
    case 4:
      if (Str(lt, ls)) return rt == 0 || Str(rt, rs);
      if (lt == 3) return rt == 0;
      if (lt == 2 || lt == 11) return Has({0, 2, 11}, rt);
      if (lt == 4) return Has({0, 4}, rt);
      if (lt == 9) return Has({0, 9}, rt);
      if (lt == 10) return Has({0, 10}, rt);
      if (Has(kNumeric, lt)) return rt == 0 || Has(kNumeric, rt);
      return false;
    case 5:
    case 6:
    case 7:
    case 8:
      if (Str(lt, ls)) return Str(rt, rs);
      if (lt == 2 || lt == 11) return Has({2, 11}, rt);
      if (Has(kNumeric, lt)) return Has(kNumeric, rt);
      if (lt == 10) return rt == 10;
      return false;
    case 10:
    case 11:
      return lt == 4 && rt == 4;
    case 17:
      if (Str(lt, ls)) return Str(rt, rs);
      if (Has({2, 10, 11}, lt)) return Has({5, 6, 12}, rt);
      if (Has({5, 6, 12}, lt)) return Has({2, 5, 6, 7, 8, 10, 11, 12}, rt);
      if (Has({7, 8}, lt)) return Has(kNumeric, rt);
      return false;
    case 18:
      if (lt == 2) return Has({2, 5, 6, 12}, rt);
      if (Has(kNumeric, lt)) return Has(kNumeric, rt);
      if (lt == 10) return Has({5, 6, 10, 12}, rt);
      if (lt == 11) return Has({2, 5, 6, 10, 11, 12}, rt);
      return false;
    case 19:
    case 20:
      return Has(kNumeric, lt) && Has(kNumeric, rt);
    default:
      return false;
  }
}

// Result types: (operator, left) -> {right -> result}.
std::map<std::pair<int, int>, std::map<int, int>> ResultTable() {
  std::map<std::pair<int, int>, std::map<int, int>> t;
  auto row = [&t](int op, Set lefts, std::map<int, int> results) {
    for (int l : lefts) t[{op, l}] = results;
  };
  const std::map<int, int> to7 = {{5, 7}, {6, 7}, {7, 7}, {8, 7}, {12, 7}};
  const std::map<int, int> bcd = {{5, 8}, {6, 8}, {8, 8}, {12, 8}, {7, 7}};
  row(17, {1}, {{1, 1}, {3, 3}});
  row(17, {3}, {{1, 3}, {3, 3}});
  row(17, {2}, {{5, 2}, {6, 2}, {12, 2}});
  row(17, {5, 6, 12}, {{2, 2}, {5, 6}, {6, 6}, {12, 6}, {7, 7}, {8, 8}, {10, 10}, {11, 11}});
  row(17, {7}, to7);
  row(17, {8}, bcd);
  row(17, {10}, {{5, 10}, {6, 10}, {12, 10}});
  row(17, {11}, {{5, 11}, {6, 11}, {12, 11}});
  row(18, {2}, {{2, 6}, {5, 2}, {6, 2}, {12, 2}});
  row(18, {5, 6}, {{5, 6}, {6, 6}, {12, 6}, {7, 7}, {8, 8}});
  row(18, {12}, {{5, 12}, {6, 12}, {12, 12}, {7, 7}, {8, 8}});
  row(18, {7}, to7);
  row(18, {8}, bcd);
  row(18, {10}, {{5, 10}, {6, 10}, {12, 10}, {10, 6}});
  row(18, {11}, {{2, 6}, {10, 6}, {5, 11}, {6, 11}, {12, 11}, {11, 7}});
  row(19, {5, 6, 12}, {{5, 6}, {6, 6}, {12, 6}, {7, 7}, {8, 8}});
  row(19, {7}, to7);
  row(19, {8}, bcd);
  row(20, {5, 6, 12}, {{5, 7}, {6, 7}, {7, 7}, {12, 7}, {8, 8}});
  row(20, {7}, to7);
  row(20, {8}, bcd);
  return t;
}

int ExpectedResultType(int op, int lt, int rt) {
  if ((op >= 3 && op <= 8) || op == 10 || op == 11) return 4;
  static const auto table = ResultTable();
  const auto row = table.find({op, lt});
  if (row == table.end()) return 0;
  const auto cell = row->second.find(rt);
  return cell == row->second.end() ? 0 : cell->second;
}

int ExpectedSubtype(int op, int lt, int ls, int rs, int rt) {
  if (op == 17 && lt == 1) return rt == 3 ? 22 : 0;
  if (op == 17 && lt == 3) return 22;
  if ((op == 17 || op == 19) && ls == 0 && rs == 21) return 21;
  if (op >= 17 && op <= 20 && ls == 21 && Has(kNumeric, rt)) return 21;
  return 0;
}

const int kBinaryOps[] = {3, 4, 5, 6, 7, 8, 10, 11, 17, 18, 19, 20};
const int kOtherOps[] = {0, 1, 2, 9, 15, 16, 21, 31, 32, 40, 52};

TEST(ExpressionTypeRules, BinaryOperatorsOverEveryTypePairAndSubtype) {
  for (int flag : {0, 0x80}) {
    for (int op : kBinaryOps) {
      const uint8_t code = static_cast<uint8_t>(op | flag);
      for (int lt = 0; lt < 16; ++lt) {
        for (int rt = 0; rt < 16; ++rt) {
          EXPECT_EQ(BinaryResultType(code, lt, rt), ExpectedResultType(op, lt, rt))
              << op << " " << lt << " " << rt;
          for (int ls : kSubtypes) {
            for (int rs : kSubtypes) {
              EXPECT_EQ(IsValidOperandTypes(code, lt, ls, rs, rt),
                        ExpectedValid(op, lt, ls, rs, rt))
                  << "op " << op << " left " << lt << "." << ls << " right " << rt << "." << rs;
              EXPECT_EQ(BinaryResultSubtype(code, lt, ls, rs, rt),
                        ExpectedSubtype(op, lt, ls, rs, rt))
                  << "op " << op << " left " << lt << "." << ls << " right " << rt << "." << rs;
            }
          }
        }
      }
    }
  }
}

TEST(ExpressionTypeRules, OperatorsWithoutBinaryRulesAcceptNothing) {
  for (int op : kOtherOps) {
    for (int lt = 0; lt < 16; ++lt) {
      for (int rt = 0; rt < 16; ++rt) {
        EXPECT_FALSE(IsValidOperandTypes(op, lt, 0, 0, rt)) << op;
        EXPECT_EQ(BinaryResultType(op, lt, rt), 0) << op;
      }
    }
  }
}

TEST(ExpressionTypeRules, UnaryOperators) {
  const std::map<int, Set> accepted = {
      {9, {4}}, {15, {2, 5, 6, 7, 8, 10, 11}}, {16, {2, 5, 6, 7, 8, 10, 11, 12}}};
  for (int flag : {0, 0x80}) {
    for (int op : {0, 3, 9, 10, 15, 16, 17}) {
      const uint8_t code = static_cast<uint8_t>(op | flag);
      for (int type = 0; type < 16; ++type) {
        const auto rule = accepted.find(op);
        const bool valid = rule != accepted.end() && Has(rule->second, type);
        EXPECT_EQ(IsValidUnaryOperandType(code, type), valid) << op << " " << type;
        const int result = op == 9 ? 4 : (op == 15 || op == 16) ? type : 0;
        EXPECT_EQ(UnaryResultType(code, type), result) << op << " " << type;
      }
      for (int subtype : kSubtypes) {
        EXPECT_EQ(UnaryResultSubtype(code, subtype), (op == 15 || op == 16) ? subtype : 0);
      }
    }
  }
}

TEST(ExpressionTypeRules, CastMatrix) {
  Set all_but_blob;
  for (int t = 0; t < 16; ++t) {
    if (t != 3) all_but_blob.insert(t);
  }
  const std::map<int, Set> allowed = {
      {1, all_but_blob},
      {9, all_but_blob},
      {15, all_but_blob},
      {2, {1, 2, 9, 11, 15}},
      {3, {3}},
      {4, {1, 4, 5, 6, 8, 9, 12, 15}},
      {5, {1, 4, 5, 6, 7, 8, 9, 12, 15}},
      {12, {1, 4, 5, 6, 7, 8, 9, 12, 15}},
      {6, {1, 5, 6, 7, 8, 9, 12, 15}},
      {7, {1, 5, 6, 7, 8, 9, 12, 15}},
      {8, {1, 5, 6, 7, 8, 9, 12, 15}},
      {10, {1, 9, 10, 11, 15}},
      {11, {1, 2, 9, 10, 11, 15}},
  };
  for (int target = 0; target < 16; ++target) {
    for (int source = 0; source < 16; ++source) {
      const auto rule = allowed.find(target);
      const bool expected = rule != allowed.end() && Has(rule->second, source);
      EXPECT_EQ(IsCastAllowed(target, source), expected) << target << " <- " << source;
    }
  }
}

TEST(ExpressionTypeRules, NamedEdgeCases) {
  EXPECT_EQ(BinaryResultType(17, 6, 6), 6);
  EXPECT_EQ(BinaryResultType(17, 5, 5), 6);
  EXPECT_EQ(BinaryResultType(20, 6, 6), 7);
  EXPECT_EQ(BinaryResultType(18, 2, 2), 6);
  EXPECT_EQ(BinaryResultType(18, 11, 11), 7);
  EXPECT_TRUE(IsValidOperandTypes(3, 1, 0, 22, 3));
  EXPECT_FALSE(IsValidOperandTypes(3, 1, 0, 23, 3));
  EXPECT_EQ(BinaryResultSubtype(19, 7, 21, 0, 6), 21);
  EXPECT_EQ(BinaryResultSubtype(18, 6, 0, 21, 7), 0);
  EXPECT_FALSE(IsCastAllowed(10, 2));
  EXPECT_TRUE(IsCastAllowed(10, 11));
  EXPECT_FALSE(IsCastAllowed(7, 4));
}

}  // namespace
}  // namespace jw
