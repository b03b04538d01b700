#include "platform/rtl/filer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/component.h"

namespace jw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes StreamBytes(TMemoryStream& stream) {
  const auto* data = static_cast<const uint8_t*>(stream.Memory());
  return Bytes(data, data + stream.Size());
}

TMemoryStream StreamOf(const Bytes& bytes) {
  TMemoryStream stream;
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

Bytes ReadAll(TStream& stream) {
  Bytes bytes(static_cast<std::size_t>(stream.Size() - stream.Position()));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

// A component with two binary properties held as plain byte blocks; a
// property is stored only when its block is not empty, as a form stores
// what it has.
class TBlockHolder : public TComponent {
 public:
  using TComponent::TComponent;

  Bytes region_data;
  Bytes data;
  int reads = 0;

  void DefineProperties(TFiler& filer) override {
    TComponent::DefineProperties(filer);
    Define(filer, "RegionData", region_data);
    Define(filer, "Data", data);
  }

 private:
  void Define(TFiler& filer, const std::string& name, Bytes& block) {
    filer.DefineBinaryProperty(
        name,
        [this, &block](TStream& stream) {
          ++reads;
          block = ReadAll(stream);
        },
        [&block](TStream& stream) {
          if (!block.empty()) stream.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
        },
        !block.empty());
  }
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(FilerFormat, WritesSignatureNamedSizedBlocksAndEndMark) {
  TBlockHolder holder(nullptr);
  holder.region_data = {0x01, 0x02, 0x03};
  holder.data = {0xFF};
  TMemoryStream stream;
  WriteBinaryProperties(holder, stream);
  const Bytes expected = Concat({Text("JWP1"),
                                 {10},
                                 Text("RegionData"),
                                 {3, 0, 0, 0},
                                 {0x01, 0x02, 0x03},
                                 {4},
                                 Text("Data"),
                                 {1, 0, 0, 0},
                                 {0xFF},
                                 {0}});
  EXPECT_EQ(StreamBytes(stream), expected);
}

TEST(FilerFormat, PropertiesWithoutDataAreLeftOut) {
  TBlockHolder holder(nullptr);
  holder.data = {7, 8};
  TMemoryStream stream;
  WriteBinaryProperties(holder, stream);
  EXPECT_EQ(StreamBytes(stream),
            Concat({Text("JWP1"), {4}, Text("Data"), {2, 0, 0, 0}, {7, 8}, {0}}));
  TBlockHolder empty(nullptr);
  TMemoryStream nothing;
  WriteBinaryProperties(empty, nothing);
  EXPECT_EQ(StreamBytes(nothing), Concat({Text("JWP1"), {0}}));
}

TEST(FilerFormat, SizeIsLittleEndianOverFourBytes) {
  TBlockHolder holder(nullptr);
  holder.data.assign(0x10203, 0xAB);
  TMemoryStream stream;
  WriteBinaryProperties(holder, stream);
  const Bytes bytes = StreamBytes(stream);
  ASSERT_GE(bytes.size(), 13u);
  EXPECT_EQ(Bytes(bytes.begin() + 9, bytes.begin() + 13), (Bytes{0x03, 0x02, 0x01, 0x00}));
  EXPECT_EQ(bytes.size(), 4 + 1 + 4 + 4 + 0x10203 + 1u);
}

TEST(FilerRoundTrip, EveryByteValueSurvivesAndRewritesIdentically) {
  TBlockHolder source(nullptr);
  for (int i = 0; i < 256; ++i) source.region_data.push_back(static_cast<uint8_t>(i));
  source.region_data.insert(source.region_data.end(), {0, 0, 0x1A, 0x0D, 0x0A});
  source.data = {0};
  TMemoryStream stream;
  WriteBinaryProperties(source, stream);
  stream.SetPosition(0);

  TBlockHolder target(nullptr);
  ReadBinaryProperties(target, stream);
  EXPECT_EQ(target.region_data, source.region_data);
  EXPECT_EQ(target.data, source.data);
  EXPECT_EQ(stream.Position(), stream.Size());

  TMemoryStream again;
  WriteBinaryProperties(target, again);
  EXPECT_EQ(StreamBytes(again), StreamBytes(stream));
}

TEST(FilerRoundTrip, ReadsFromThePositionAndStopsAfterTheEndMark) {
  TBlockHolder source(nullptr);
  source.data = {1, 2, 3};
  TMemoryStream stream;
  stream.WriteBuffer("head", 4);
  WriteBinaryProperties(source, stream);
  const int64_t end = stream.Position();
  stream.WriteBuffer("tail", 4);
  stream.SetPosition(4);
  TBlockHolder target(nullptr);
  ReadBinaryProperties(target, stream);
  EXPECT_EQ(target.data, source.data);
  EXPECT_EQ(stream.Position(), end);
}

TEST(FilerRoundTrip, AnEmptyStoredBlockReachesTheReadProcedure) {
  // A property written with size 0 (a region length of 0, say) is still
  // handed to its reader, which sees an empty stream.
  TMemoryStream stream = StreamOf(Concat({Text("JWP1"), {4}, Text("Data"), {0, 0, 0, 0}, {0}}));
  TBlockHolder target(nullptr);
  target.data = {9};
  ReadBinaryProperties(target, stream);
  EXPECT_EQ(target.reads, 1);
  EXPECT_TRUE(target.data.empty());
}

TEST(FilerRoundTrip, PropertiesMissingFromTheStreamKeepTheirValues) {
  TMemoryStream stream =
      StreamOf(Concat({Text("JWP1"), {4}, Text("Data"), {1, 0, 0, 0}, {5}, {0}}));
  TBlockHolder target(nullptr);
  target.region_data = {1, 1};
  ReadBinaryProperties(target, stream);
  EXPECT_EQ(target.region_data, (Bytes{1, 1}));
  EXPECT_EQ(target.data, (Bytes{5}));
  EXPECT_EQ(target.reads, 1);
}

TEST(FilerRoundTrip, NamesMatchWithoutAsciiCase) {
  TMemoryStream stream =
      StreamOf(Concat({Text("JWP1"), {4}, Text("DATA"), {1, 0, 0, 0}, {5}, {0}}));
  TBlockHolder target(nullptr);
  ReadBinaryProperties(target, stream);
  EXPECT_EQ(target.data, (Bytes{5}));
}

TEST(FilerReading, AReaderCannotReadBeyondItsOwnBytes) {
  class TGreedy : public TPersistent {
   public:
    void DefineProperties(TFiler& filer) override {
      filer.DefineBinaryProperty(
          "Data",
          [](TStream& stream) {
            uint8_t buffer[3];
            stream.ReadBuffer(buffer, 3);
          },
          nullptr, false);
    }
  };
  TGreedy greedy;
  // The outer stream holds one more byte (the end mark) after the two.
  TMemoryStream alone =
      StreamOf(Concat({Text("JWP1"), {4}, Text("Data"), {2, 0, 0, 0}, {1, 2}, {0}}));
  try {
    ReadBinaryProperties(greedy, alone);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

TEST(FilerReading, AnUnknownPropertyFailsBeforeAnyPropertyIsApplied) {
  TMemoryStream stream = StreamOf(Concat({Text("JWP1"),
                                          {4},
                                          Text("Data"),
                                          {1, 0, 0, 0},
                                          {5},
                                          {8},
                                          Text("Internal"),
                                          {0, 0, 0, 0},
                                          {0}}));
  TBlockHolder target(nullptr);
  try {
    ReadBinaryProperties(target, stream);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Error reading TBlockHolder.Internal: Property Internal does not exist");
  }
  EXPECT_EQ(target.reads, 0);
  EXPECT_TRUE(target.data.empty());
}

TEST(FilerReading, DamagedStreamsAreRefusedWithoutApplyingAnything) {
  const Bytes good_property = Concat({{4}, Text("Data"), {1, 0, 0, 0}, {5}});
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"empty stream", {}},
      {"short signature", Text("JWP")},
      {"wrong signature", Concat({Text("JWP2"), {0}})},
      {"no end mark", Text("JWP1")},
      {"name cut short", Concat({Text("JWP1"), {4}, Text("Da")})},
      {"size cut short", Concat({Text("JWP1"), {4}, Text("Data"), {1, 0}})},
      {"size beyond the bytes", Concat({Text("JWP1"), {4}, Text("Data"), {2, 0, 0, 0}, {5}, {0}})},
      {"huge size", Concat({Text("JWP1"), {4}, Text("Data"), {0xFF, 0xFF, 0xFF, 0xFF}, {5}, {0}})},
      {"end mark missing after a property", Concat({Text("JWP1"), good_property})},
      {"name twice", Concat({Text("JWP1"), good_property, {4}, Text("data"), {0, 0, 0, 0}, {0}})},
  };
  for (const Case& c : cases) {
    TMemoryStream stream = StreamOf(c.bytes);
    TBlockHolder target(nullptr);
    try {
      ReadBinaryProperties(target, stream);
      ADD_FAILURE() << c.what;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), "Invalid stream format") << c.what;
    }
    EXPECT_EQ(target.reads, 0) << c.what;
  }
}

TEST(FilerWriting, BadDeclarationsAreRefused) {
  class TBadNames : public TPersistent {
   public:
    std::vector<std::string> names;
    void DefineProperties(TFiler& filer) override {
      for (const auto& name : names) {
        filer.DefineBinaryProperty(
            name, nullptr, [](TStream& stream) { stream.WriteBuffer("x", 1); }, true);
      }
    }
  };
  struct Case {
    std::vector<std::string> names;
    std::string message;
  };
  const Case cases[] = {
      {{""}, "Invalid property name ''"},
      {{std::string(256, 'n')}, "Invalid property name '" + std::string(256, 'n') + "'"},
      {{"Data", "DATA"}, "Property DATA defined twice"},
  };
  for (const Case& c : cases) {
    TBadNames bad;
    bad.names = c.names;
    TMemoryStream stream;
    try {
      WriteBinaryProperties(bad, stream);
      ADD_FAILURE() << c.message;
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  TBadNames longest;
  longest.names = {std::string(255, 'n')};
  TMemoryStream stream;
  WriteBinaryProperties(longest, stream);
  stream.SetPosition(0);
  EXPECT_NO_THROW(ReadBinaryProperties(longest, stream));
}

}  // namespace
}  // namespace jw
