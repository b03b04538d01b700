#include "platform/rtl/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/rtl/exceptions.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

std::string Content(TMemoryStream& stream) {
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

using test_support::ErrorText;

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/jw_streams_XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string folder_;
};

TEST(MemoryStream, SeeksFromEachOriginAndFillsAGapWithZeros) {
  TMemoryStream stream;
  stream.WriteBuffer("abcdef", 6);
  EXPECT_EQ(stream.Seek(2, soFromBeginning), 2);
  EXPECT_EQ(stream.Seek(1, soFromCurrent), 3);
  EXPECT_EQ(stream.Seek(-1, soFromEnd), 5);
  char c;
  stream.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'f');
  EXPECT_EQ(stream.Read(&c, 1), 0);

  stream.Seek(2, soFromEnd);
  stream.WriteBuffer("Z", 1);
  EXPECT_EQ(Content(stream), std::string("abcdef\0\0Z", 9));
  EXPECT_EQ(ErrorText<EStreamError>([&] { stream.Seek(-10, soFromEnd); }),
            "Invalid stream position");
  EXPECT_EQ(stream.Position(), 9);
}

TEST(MemoryStream, SetSizeCutsAndPullsThePositionBack) {
  TMemoryStream stream;
  stream.WriteBuffer("abcdef", 6);
  stream.SetSize(3);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(Content(stream), "abc");
  stream.SetPosition(1);
  stream.SetSize(5);
  EXPECT_EQ(stream.Position(), 1);
  EXPECT_EQ(Content(stream), std::string("abc\0\0", 5));
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(MemoryStream, ShortReadRaisesReadErrorAndKeepsWhatWasRead) {
  TMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  stream.SetPosition(1);
  char buffer[4] = {};
  EXPECT_EQ(ErrorText<EReadError>([&] { stream.ReadBuffer(buffer, 4); }), "Stream read error");
  EXPECT_EQ(std::string(buffer, 2), "bc");
  stream.ReadBuffer(buffer, 0);  // nothing asked, nothing raised
}

TEST(MemoryStream, CopyFromTakesTheWholeSourceForCountZero) {
  TMemoryStream source;
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  source.WriteBuffer(big.data(), static_cast<int64_t>(big.size()));

  TMemoryStream whole;
  whole.WriteBuffer(">", 1);
  EXPECT_EQ(whole.CopyFrom(source, 0), 100000);
  EXPECT_EQ(Content(whole), ">" + big);

  source.SetPosition(10);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 5), 5);
  EXPECT_EQ(Content(part), big.substr(10, 5));
  EXPECT_EQ(source.Position(), 15);

  source.SetPosition(99998);
  EXPECT_THROW(part.CopyFrom(source, 5), EReadError);
}

TEST_F(FileStreamTest, FileStreamReadsWritesAndResizes) {
  const std::string path = folder_ + "/data.bin";
  {
    TFileStream file(path, fmCreate);
    file.WriteBuffer("hello world", 11);
    EXPECT_EQ(file.Size(), 11);
    file.SetSize(5);
    EXPECT_EQ(file.Position(), 5);
    file.WriteBuffer("!", 1);
  }
  {
    TFileStream file(path, fmOpenReadWrite);
    EXPECT_EQ(file.Size(), 6);
    file.Seek(-1, soFromEnd);
    file.WriteBuffer("?", 1);
  }
  TFileStream file(path, fmOpenRead);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "hello?");
  EXPECT_EQ(ErrorText<EWriteError>([&] { file.WriteBuffer("x", 1); }), "Stream write error");
  EXPECT_EQ(::fcntl(file.Handle(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(FileStreamTest, FileOpenErrorsCarryThePathAndTheSystemText) {
  const std::string missing = folder_ + "/missing.bin";
  EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream f(folder_, fmOpenReadWrite); }),
            "Cannot open file \"" + folder_ + "\". Is a directory");
  EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream f(folder_, fmOpenRead); }),
            "Cannot open file \"" + folder_ + "\". Is a directory");
  const std::string no_folder = folder_ + "/none/new.bin";
  EXPECT_EQ(ErrorText<EFCreateError>([&] { TFileStream f(no_folder, fmCreate); }),
            "Cannot create file \"" + no_folder + "\". No such file or directory");
}

TEST_F(FileStreamTest, MemoryStreamFilesRoundTripAndCreateTruncates) {
  const std::string path = folder_ + "/copy.bin";
  TMemoryStream stream;
  stream.WriteBuffer("0123456789", 10);
  stream.SaveToFile(path);
  stream.SetSize(4);
  stream.SaveToFile(path);
  TMemoryStream read;
  read.LoadFromFile(path);
  EXPECT_EQ(Content(read), "0123");
  EXPECT_EQ(read.Position(), 0);
}

}  // namespace
}  // namespace jw
