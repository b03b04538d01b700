#include "engine/dataset/locate_filter.h"

#include <cstring>
#include <utility>

#include "engine/support/field_types.h"

namespace jw {
namespace {

constexpr int32_t kBooleanSize = 2;

TExpToken* BooleanNode(uint8_t kind, uint8_t code, const char* text) {
  TExpToken* node = GetToken();
  node->Kind = kind;
  node->Code = code;
  node->SourceText = text;
  node->Type = kFldBoolean;
  node->SetValueSize(kBooleanSize);
  return node;
}

// The field as the filter's binder would bind a column of its name.
TExpToken* ColumnNode(const FieldDescriptor& field) {
  TExpToken* node = GetToken();
  node->Kind = kTokenColumn;
  node->SourceText = field.Name;
  node->ColumnName = field.Name;
  node->FieldNumber = field.Number;
  node->FieldRef = &field;
  node->Type = field.Type;
  node->Subtype = field.SubType;
  node->SetValueSize(field.Size);
  node->Scale = field.Decimals;
  return node;
}

bool IsTextField(const FieldDescriptor& field) {
  return field.Type == kFldString || field.Type == kFldBlob;
}

TExpToken* ConstantNode(const TLocateTerm& term, const std::string& text) {
  const FieldDescriptor& field = *term.Field;
  TExpToken* node = GetToken();
  node->Kind = kTokenConstant;
  if (term.IsNull) {
    node->SourceText = "NULL";
    node->IsNull = true;
    node->Type = field.Type;
    node->Subtype = field.SubType;
    node->Scale = field.Decimals;
    return node;
  }
  if (IsTextField(field)) {
    node->SourceText = text;
    node->Type = kFldString;
    node->SetValueSize(static_cast<int32_t>(text.size()) + 1);
    std::memcpy(node->Value(), text.c_str(), text.size() + 1);
    return node;
  }
  node->Type = field.Type;
  node->Subtype = field.SubType;
  node->Scale = field.Decimals;
  node->SetValueSize(static_cast<int32_t>(term.Value.size()));
  std::memcpy(node->Value(), term.Value.data(), term.Value.size());
  return node;
}

// Each child is hung below its parent as soon as it is made, so that the
// parent's tree owns it should making the next one fail.
void SetLeft(TExpToken* parent, TExpToken* child) {
  parent->Left = child;
  child->Parent = parent;
}

void SetRight(TExpToken* parent, TExpToken* child) {
  parent->Right = child;
  child->Parent = parent;
}

// "field = value"; for text fields a string comparison that carries the
// case and prefix options.
TExpToken* Comparison(const TLocateTerm& term, bool case_insensitive, bool partial_key) {
  const bool text_field = IsTextField(*term.Field) && !term.IsNull;
  std::string text = term.Text;
  if (text_field && partial_key) {
    if (!text.empty() && text.back() == '*') text.pop_back();
    // A prefix of no characters: every value begins with it. A comparison
    // length of 0 would compare whole texts instead.
    if (text.empty()) {
      TTokenTree node(BooleanNode(kTokenUnary, kOpIsNotNull, "IS NOT NULL"));
      SetLeft(node.get(), ColumnNode(*term.Field));
      return node.release();
    }
  }
  TTokenTree node(BooleanNode(text_field ? kTokenStringCompare : kTokenBinary, kOpEqual, "="));
  if (text_field) {
    node->CaseInsensitive = case_insensitive;
    node->PartialLength = partial_key ? static_cast<int32_t>(text.size()) : 0;
  }
  SetLeft(node.get(), ColumnNode(*term.Field));
  SetRight(node.get(), ConstantNode(term, text));
  return node.release();
}

}  // namespace

TTokenTree LocateFilterTree(const std::vector<TLocateTerm>& terms, bool case_insensitive,
                            bool partial_key) {
  TTokenTree root(Comparison(terms.front(), case_insensitive, partial_key));
  for (size_t i = 1; i < terms.size(); ++i) {
    TTokenTree right(Comparison(terms[i], case_insensitive, partial_key));
    TTokenTree both(BooleanNode(kTokenBinary, kOpAnd, "AND"));
    SetLeft(both.get(), root.release());
    SetRight(both.get(), right.release());
    root = std::move(both);
  }
  return root;
}

}  // namespace jw
