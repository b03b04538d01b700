// The enumerations and small value types of the dataset framework: dataset
// states, field types (fixed ordinals, stored as one byte in parameter
// streams), field kinds, record fetch modes, bookmark flags, BLOB stream
// modes, locate, filter and index options, error actions and data events.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace jw {

// A set of up to 32 members of an enumeration whose ordinals start at 0.
template <class E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> items) {
    for (E item : items) Include(item);
  }
  constexpr bool Contains(E item) const { return (bits_ & Bit(item)) != 0; }
  constexpr void Include(E item) { bits_ |= Bit(item); }
  constexpr void Exclude(E item) { bits_ &= ~Bit(item); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr uint32_t Bit(E item) { return uint32_t{1} << static_cast<uint32_t>(item); }
  uint32_t bits_ = 0;
};

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening,
};

// The states in which field values may be written.
constexpr bool IsWriteState(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey || state == dsCalcFields ||
         state == dsFilter || state == dsNewValue || state == dsInternalCalc;
}

// The ordinals are part of the parameter "Data" stream: never renumber.
enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
};
static_assert(ftGuid == 35, "the field type ordinals are stored");

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };

// Where a record buffer stands: on a record, or on a new record placed
// before the first, after the last, or before the record of its bookmark.
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

enum TBlobStreamMode : uint8_t { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = EnumSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = EnumSet<TFilterOption>;

enum TIndexOption : uint8_t {
  ixPrimary,
  ixUnique,
  ixDescending,
  ixCaseInsensitive,
  ixExpression,
  ixNonMaintained,
};
using TIndexOptions = EnumSet<TIndexOption>;

enum TResyncModeItem : uint8_t { rmExact, rmCenter };
using TResyncMode = EnumSet<TResyncModeItem>;

// The direction of a query parameter.
enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// The answer of an error event: raise, abort silently, or try again.
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
};

// A record buffer of the ring; its layout belongs to the dataset.
using TRecordBuffer = uint8_t*;
// A bookmark's bytes, as the dataset stores them in its buffers.
using TBookmark = std::vector<uint8_t>;

}  // namespace jw
