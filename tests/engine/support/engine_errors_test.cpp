#include "engine/support/engine_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace jw {
namespace {

TEngineErrorNames SampleNames() {
  TEngineErrorNames names;
  names.FieldName = "FLD";
  names.TableName = "TBL";
  names.IndexName = "IDX";
  names.Message = "MSG";
  return names;
}

struct TextCase {
  EngineErrorCode code;
  const char* text;
};

// Field FLD, table TBL, index IDX, message MSG.
const TextCase kTexts[] = {
    {8705, "Beginning of file encountered in table 'TBL'"},
    {8706, "End of file encountered in table 'TBL'"},
    {8708,
     "Record has been changed or deleted by another user, session, or table cursor in table 'TBL'"},
    {8709, "No current record in table 'TBL'"},
    {8710, "Record not found in table 'TBL'"},
    {8711, "End of blob data in table 'TBL' reached prematurely"},
    {8961, "Header information corrupt in table 'TBL'"},
    {8962, "Data record buffers corrupt in table 'TBL'"},
    {8963, "BLOB block buffers corrupt in table 'TBL'"},
    {8965, "Index page buffers corrupt in table 'TBL'"},
    {9217, "Error reading from table 'TBL'"},
    {9218, "Error writing to table 'TBL'"},
    {9220, "Cannot delete table 'TBL'"},
    {9221, "Error accessing header information for table 'TBL'"},
    {9477, "Maximum record size exceeded in table 'TBL'"},
    {9479, "The table 'TBL' is full and cannot contain any more data"},
    {9482, "Too many filters defined for table 'TBL'"},
    {9487,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in table "
     "'TBL'"},
    {9492,
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in table 'TBL'"},
    {9494, "Too many blobs opened in table 'TBL'"},
    {9498, "Too many blob fields or invalid blob block size specified for table 'TBL'"},
    {9729, "Duplicate key found in index 'IDX' of table 'TBL'"},
    {9730, "The value for the field 'FLD' in table 'TBL' is below the minimum allowable value"},
    {9731, "The value for the field 'FLD' in table 'TBL' is above the maximum allowable value"},
    {9732, "A value must be provided for the field 'FLD' in table 'TBL'"},
    {9985, "Invalid field number or name 'FLD' specified for table 'TBL'"},
    {9993, "A primary index is already defined for table 'TBL' and cannot be added again"},
    {9998, "Invalid blob offset into table 'TBL' specified"},
    {10000, "Invalid field definition specified for the field 'FLD' in table 'TBL'"},
    {10006,
     "Invalid default, min or max validity check, or expression specified for 'FLD' in table "
     "'TBL'"},
    {10010, "The secondary index name is missing or not specified for table 'TBL'"},
    {10015, "Password provided for table 'TBL' is invalid"},
    {10022, "Invalid secondary index name 'IDX' specified for table 'TBL'"},
    {10023, "Invalid field number 'FLD' specified in index 'IDX' for table 'TBL'"},
    {10026, "Invalid key size specified in index 'IDX' for table 'TBL'"},
    {10027, "The secondary index 'IDX' already exists for table 'TBL'"},
    {10029, "Invalid blob length in table 'TBL'"},
    {10030, "Invalid blob handle for table 'TBL' specified"},
    {10031, "table 'TBL' is already in use"},
    {10038, "Invalid or duplicate field name 'FLD' specified for table 'TBL'"},
    {10050, "Invalid filter handle specified for table 'TBL'"},
    {10051, "Filter error for table 'TBL' - MSG"},
    {10055, "The primary index cannot be removed from table 'TBL'"},
    {10241, "The table 'TBL' is already locked by another user"},
    {10242, "Cannot unlock table or record in table 'TBL'"},
    {10249, "General lock failure with table 'TBL'"},
    {10253, "table 'TBL' must be opened exclusively"},
    {10258, "Record in table 'TBL' is in use by another user"},
    {10498, "Insufficient rights to table 'TBL', a password is required"},
    {10753, "Invalid blob field 'FLD' specified for table 'TBL'"},
    {10758, "Engine not initialized"},
    {11010, "Invalid path or file name for table 'TBL'"},
    {11012, "Too many files open while attempting to open table 'TBL'"},
    {11013, "Access denied to table 'TBL'"},
    {11014, "Invalid file handle for table 'TBL'"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11017, "Invalid length for in-memory table 'TBL'"},
    {11023, "Access denied to logical operating system device for table 'TBL'"},
    {11025, "table 'TBL' has been moved"},
    {11047, "An unknown operating system error occurred with table 'TBL'"},
    {11949, "SQL error - MSG"},
    {12035, "table 'TBL' is not the correct version"},
    {12292, "Invalid field type specified for index 'IDX' in table 'TBL'"},
    {13060, "The table 'TBL' already exists"},
    {15878, "The language driver for table 'TBL' is not available or installed"},
};

TEST(EngineErrorText, EveryCodeFillsItsPlaceholdersInOrder) {
  for (const TextCase& c : kTexts) {
    EXPECT_EQ(EngineErrorText(c.code, SampleNames()), c.text) << "code " << c.code;
  }
}

TEST(EngineErrorText, UnknownCodeNamesTheTable) {
  EXPECT_EQ(EngineErrorText(1, SampleNames()), "Unknown error occurred with table 'TBL'");
  EXPECT_EQ(EngineErrorText(0x2B03, SampleNames()), "Unknown error occurred with table 'TBL'");
}

TEST(EngineErrorText, PercentInANameStaysLiteral) {
  TEngineErrorNames names;
  names.TableName = "100%s";
  EXPECT_EQ(EngineErrorText(11013, names), "Access denied to table '100%s'");
}

TEST(EngineErrorText, LongTextIsCutTo254Characters) {
  TEngineErrorNames names;
  names.Message = std::string(300, 'x');
  const std::string text = EngineErrorText(11949, names);
  EXPECT_EQ(text.size(), 254u);
  EXPECT_EQ(text, "SQL error - " + std::string(242, 'x'));
}

TEST(RaiseEngineError, MessageCarriesCodeAndOwnNames) {
  try {
    RaiseEngineError(11013, "customer");
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Quire Engine Error # 11013 Access denied to table 'customer'");
    EXPECT_EQ(e.Code(), 11013);
    ASSERT_EQ(e.ErrorCount(), 1);
    EXPECT_EQ(e.GetError(0).ErrorCode(), 11013);
    EXPECT_EQ(e.GetError(0).Message(), "Access denied to table 'customer'");
  }
}

TEST(RaiseEngineError, IsADatabaseError) {
  EXPECT_THROW(RaiseEngineError(8710, "t"), EDatabaseError);
  EXPECT_THROW(RaiseEngineError(8710, "t"), Exception);
}

TEST(RaiseEngineError, FillsTheLastErrorRecord) {
  EXPECT_THROW(RaiseEngineError(10023, "orders", "qty", "byQty", "ignored"), EQuireEngineError);
  EXPECT_EQ(GetLastEngineErrorCode(), 10023);
  EXPECT_EQ(GetLastEngineErrorName(0), "qty");
  EXPECT_EQ(GetLastEngineErrorName(1), "orders");
  EXPECT_EQ(GetLastEngineErrorName(2), "byQty");
  EXPECT_EQ(GetLastEngineErrorName(3), "");
  EXPECT_EQ(GetLastEngineErrorName(-1), "");
  EXPECT_EQ(EngineErrorText(10023),
            "Invalid field number 'qty' specified in index 'byQty' for table 'orders'");
}

TEST(RaiseEngineError, NamesAreCutTo255Characters) {
  EXPECT_THROW(RaiseEngineError(8710, std::string(300, 't')), EQuireEngineError);
  EXPECT_EQ(GetLastEngineErrorName(1), std::string(255, 't'));
}

TEST(RaiseEngineError, NewErrorClearsTheOldNames) {
  EXPECT_THROW(RaiseEngineError(10023, "orders", "qty", "byQty"), EQuireEngineError);
  EXPECT_THROW(RaiseEngineError(8710, "parts"), EQuireEngineError);
  EXPECT_EQ(GetLastEngineErrorName(0), "");
  EXPECT_EQ(GetLastEngineErrorName(2), "");
}

TEST(RaiseEngineError, LongSqlMessageIsCutInEntryAndMessage) {
  try {
    RaiseEngineError(11949, "", "", "", std::string(300, 'm'));
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    const std::string text = "SQL error - " + std::string(242, 'm');
    EXPECT_EQ(e.GetError(0).Message(), text);
    EXPECT_EQ(std::string(e.what()), "Quire Engine Error # 11949 " + text);
  }
}

TEST(RaiseEQuireEngineError, NeverShowsTheNamesOfAnEarlierError) {
  EXPECT_THROW(RaiseEngineError(11013, "secret"), EQuireEngineError);
  try {
    CheckEngineResult(8710);
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(std::string(e.what()), "Quire Engine Error # 8710 Record not found in table ''");
  }
  EXPECT_EQ(GetLastEngineErrorName(1), "secret");
}

TEST(CheckEngineResult, ZeroPassesAndAnythingElseRaises) {
  EXPECT_EQ(CheckEngineResult(0), 0);
  EXPECT_THROW(CheckEngineResult(8706), EQuireEngineError);
}

TEST(EQuireEngineError, CodeIsShownUnsigned) {
  const EQuireEngineError e(0xFFFF, TEngineErrorNames());
  EXPECT_EQ(std::string(e.what()),
            "Quire Engine Error # 65535 Unknown error occurred with table ''");
}

}  // namespace
}  // namespace jw
