// Helpers shared by the expression tests: a printer of token trees as
// S-expressions and a guard that returns trees to the pool.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/expr/expression_tokens.h"

namespace jw::test_support {

// (kind code "text" [tType[.subtype]] [tbl:T] [col:C] [null] [param] [v:value] links...)
// with the links up to the last one set, "-" standing for an empty link.
inline std::string PrintTree(const TExpToken* node) {
  if (node == nullptr) return "-";
  std::string out = "(" + std::to_string(node->Kind) + " " + std::to_string(node->Code) + " \"" +
                    node->SourceText + "\"";
  if (node->Type != 0 || node->Subtype != 0) {
    out += " t" + std::to_string(node->Type);
    if (node->Subtype != 0) out += "." + std::to_string(node->Subtype);
  }
  if (!node->TableName.empty()) out += " tbl:" + node->TableName;
  if (node->Kind == kTokenColumn) out += " col:" + node->ColumnName;
  if (node->IsNull) out += " null";
  if (node->IsParameter) out += " param";
  if (node->Kind == kTokenConstant && !node->IsNull && !node->IsParameter) {
    const uint8_t* v = node->Value();
    char buffer[64];
    switch (node->Type) {
      case 1: {
        out += " v:'";
        for (int32_t i = 0; i + 1 < node->Size(); ++i) {
          if (v[i] < 32 || v[i] >= 127) {
            std::snprintf(buffer, sizeof buffer, "\\x%02X", v[i]);
            out += buffer;
          } else {
            out += static_cast<char>(v[i]);
          }
        }
        out += "'/" + std::to_string(node->Size());
        break;
      }
      case 4: {
        int16_t value;
        std::memcpy(&value, v, 2);
        out += " v:" + std::to_string(value) + "/" + std::to_string(node->Size());
        break;
      }
      case 2:
      case 6:
      case 10: {
        int32_t value;
        std::memcpy(&value, v, 4);
        out += " v:" + std::to_string(value) + "/" + std::to_string(node->Size());
        break;
      }
      case 7:
      case 11: {
        double value;
        std::memcpy(&value, v, 8);
        std::snprintf(buffer, sizeof buffer, "%.17g", value);
        out += std::string(" v:") + buffer + "/" + std::to_string(node->Size());
        break;
      }
      default:
        break;
    }
  }
  const TExpToken* links[] = {node->Left, node->Right, node->Third};
  int last = 2;
  while (last >= 0 && links[last] == nullptr) --last;
  for (int i = 0; i <= last; ++i) out += " " + PrintTree(links[i]);
  return out + ")";
}

// Frees a tree at the end of a scope.
class TreeGuard {
 public:
  explicit TreeGuard(TExpToken* root) : root_(root) {}
  ~TreeGuard() { FreeTokenTree(root_); }
  TreeGuard(const TreeGuard&) = delete;
  TreeGuard& operator=(const TreeGuard&) = delete;
  TExpToken* get() const { return root_; }

 private:
  TExpToken* root_;
};

}  // namespace jw::test_support
