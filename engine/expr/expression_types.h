// The type rules of the expression language: which operand types each
// unary and binary operator accepts, the type and subtype of its result,
// and which casts are allowed. Pure functions of operator codes (the
// TExpToken codes; the top bit 0x80 is ignored), engine field type codes
// (0 for the untyped NULL constant) and subtypes.
#pragma once

#include <cstdint>

namespace jw {

// A BLOB of this subtype holds text and counts as a string.
constexpr uint8_t kSubTypeTextBlob = 22;

bool IsValidUnaryOperandType(uint8_t op, uint8_t type);
uint8_t UnaryResultType(uint8_t op, uint8_t type);
uint8_t UnaryResultSubtype(uint8_t op, uint8_t subtype);

bool IsValidOperandTypes(uint8_t op, uint8_t left_type, uint8_t left_subtype, uint8_t right_subtype,
                         uint8_t right_type);
// 0 when the pair has no result, which the binder treats as a type error.
uint8_t BinaryResultType(uint8_t op, uint8_t left_type, uint8_t right_type);
uint8_t BinaryResultSubtype(uint8_t op, uint8_t left_type, uint8_t left_subtype,
                            uint8_t right_subtype, uint8_t right_type);

bool IsCastAllowed(uint8_t target_type, uint8_t source_type);

}  // namespace jw
