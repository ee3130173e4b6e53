// The sources as byte streams: the multiplex is deterministic and as long
// as asked, the file source gives back its file, and bad input is refused
// with a reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "stream/file_source.h"
#include "stream/multiplex.h"
#include "stream_capture.h"

namespace sim {
namespace {

TEST(Multiplex, SameConfigGivesSameBytesWhateverTheReadSize) {
  const MultiplexConfig config{1.5};
  Multiplex reference(config);
  const std::vector<uint8_t> expected = test::ReadSource(reference, 1 << 20);
  ASSERT_FALSE(expected.empty());
  for (size_t chunk :
       {size_t{1}, size_t{100}, TsPacketSize, size_t{TsPacketSize + 1}, size_t{24064}}) {
    Multiplex multiplex(config);
    EXPECT_EQ(test::ReadSource(multiplex, chunk), expected) << "reads of " << chunk << " bytes";
  }
}

TEST(Multiplex, LengthFollowsSecondsAtTheNominalRate) {
  struct Case {
    double seconds;
    uint64_t bytes;
  };
  const Case cases[] = {
      {2.0, 2 * MultiplexBitrate / 8},
      {0.1, MultiplexBitrate / 80},
      {0.00025, TsPacketSize},  // 1.25 packets
      {0.00005, 0},             // a quarter packet rounds to nothing
  };
  for (const Case& c : cases) {
    Multiplex multiplex(MultiplexConfig{c.seconds});
    EXPECT_EQ(multiplex.TotalBytes(), c.bytes) << c.seconds << " s";
    EXPECT_EQ(test::ReadSource(multiplex, 10000).size(), c.bytes) << c.seconds << " s";
    uint8_t byte;
    EXPECT_EQ(multiplex.Read(&byte, 1), 0u) << "read after the end";
  }
}

TEST(Multiplex, ZeroSecondsIsEndless) {
  Multiplex multiplex(MultiplexConfig{0});
  EXPECT_EQ(multiplex.TotalBytes(), 0u);
  const size_t tenSeconds = 10 * MultiplexBitrate / 8;
  EXPECT_EQ(test::ReadSource(multiplex, 1 << 20, tenSeconds).size(), tenSeconds);
}

TEST(Multiplex, RefusesABadLength) {
  for (double seconds :
       {-1.0, std::nan(""), std::numeric_limits<double>::infinity(), Multiplex::MaxSeconds * 2}) {
    SCOPED_TRACE(seconds);
    std::string error;
    EXPECT_EQ(Multiplex::Create(MultiplexConfig{seconds}, &error), nullptr);
    EXPECT_NE(error.find("multiplex length"), std::string::npos) << error;
    EXPECT_THROW(Multiplex{MultiplexConfig{seconds}}, std::invalid_argument);
  }
  std::string error;
  EXPECT_NE(Multiplex::Create(MultiplexConfig{1}, &error), nullptr);
  EXPECT_TRUE(error.empty());
}

class FileSourceTest : public testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  std::filesystem::path path_ = std::filesystem::path(testing::TempDir()) /
                                ("file_source_" + std::to_string(::getpid()) + ".ts");
};

TEST_F(FileSourceTest, GivesBackTheFileByteForByte) {
  Multiplex multiplex(MultiplexConfig{1});
  const std::vector<uint8_t> bytes = test::ReadSource(multiplex, 1 << 16);
  {
    std::ofstream file(path_, std::ios::binary);
    // Cut off mid-packet: the source must not care about packet edges.
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size() - 100));
  }
  const std::vector<uint8_t> expected(bytes.begin(), bytes.end() - 100);
  std::string error;
  std::unique_ptr<FileSource> source = FileSource::Open(path_.string(), &error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_EQ(test::ReadSource(*source, 5000), expected);
  uint8_t byte;
  EXPECT_EQ(source->Read(&byte, 1), 0u);
  EXPECT_TRUE(source->Error().empty()) << source->Error();
}

TEST_F(FileSourceTest, ReportsWhatItCannotRead) {
  const std::string missing =
      (std::filesystem::path(testing::TempDir()) / "no_such_stream.ts").string();
  for (const std::string& path : {missing, testing::TempDir()}) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_EQ(FileSource::Open(path, &error), nullptr);
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace sim
