// The file writer: what reaches the file is exactly what was handed over, in order, from where the
// file was positioned, whether the writes ran on the caller's thread or on the writer's; space
// allocated ahead is given back when the file closes, also after a failed write; nothing after a
// failed write reaches the file.
#include "platform/FileWriter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::TFileWriter;

std::string Bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bytes the file holds on its device beyond its size rounded up to a page.
long long AllocatedPastEnd(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  const long long rounded = (static_cast<long long>(st.st_size) + 4095) / 4096 * 4096;
  return static_cast<long long>(st.st_blocks) * 512 - rounded;
}

// Hands bytes over in pieces of random sizes (a receive gives what it has); stops early when a
// block is refused. Returns how many bytes were handed over.
std::size_t Feed(TFileWriter& writer, const std::string& bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::uint8_t* block = writer.NextBlock();
    if (block == nullptr) break;
    const std::size_t piece = std::min<std::size_t>(
        {bytes.size() - done, TFileWriter::kBlockSize, 1 + random() % TFileWriter::kBlockSize});
    std::memcpy(block, bytes.data() + done, piece);
    writer.Submit(piece);
    done += piece;
  }
  return done;
}

struct Case {
  const char* name;
  const char* folder;     // where the file is made; "" for the temporary folder
  std::size_t before;     // bytes in the file before, the writer starts at its end
  std::size_t size;       // bytes handed over
};

class FileWriterCases : public ::testing::TestWithParam<Case> {};

TEST_P(FileWriterCases, FileHoldsExactlyWhatWasHandedOverAndNoSpaceAhead) {
  const Case& c = GetParam();
  const std::string folder = *c.folder != '\0' ? c.folder : fs::temp_directory_path().string();
  if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is missing";
  const std::string path = folder + "/qs-filewriter-" + std::to_string(getpid()) + "-" + c.name;
  const std::string old = Bytes(c.before, 1), fresh = Bytes(c.size, 2);
  std::ofstream(path, std::ios::binary) << old;
  TFileWriter writer;
  for (int pass = 0; pass < 2; ++pass) {  // the writer is used again for a second file
    SCOPED_TRACE(pass);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << old;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(c.before));
    writer.Start(fd, static_cast<std::int64_t>(c.before));
    EXPECT_EQ(Feed(writer, fresh, 7 + pass), fresh.size());
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_FALSE(writer.Active());
    EXPECT_TRUE(ReadAll(path) == old + fresh) << "size " << fs::file_size(path);
    EXPECT_LE(AllocatedPastEnd(path), 64 * 1024);
  }
  fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileWriterCases,
    ::testing::Values(Case{"small-disk", "", 0, 3000}, Case{"threshold-disk", "", 0, TFileWriter::kThreadAfterBytes},
                      Case{"big-disk", "", 0, 9 << 20}, Case{"append-odd-offset-disk", "", 4097 + 13, 7 << 20},
                      Case{"big-tmpfs", "/dev/shm", 0, 9 << 20}, Case{"append-tmpfs", "/dev/shm", 123, 5 << 20}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

// A file size limit stands in for a full disk: writes past it fail with EFBIG. Whether the failure
// comes on the caller's thread (below the thread threshold) or on the writer's, the file holds an
// intact beginning of the stream, no space ahead, and the failure is told.
TEST(FileWriter, AFailedWriteStopsTheFileAndIsTold) {
  for (const long long limit : {512LL * 1024, 5LL << 20}) {
    SCOPED_TRACE(limit);
    const std::string path = fs::temp_directory_path().string() + "/qs-filewriter-full-" + std::to_string(getpid());
    const std::string bytes = Bytes(12 << 20, 3);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(limit);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    TFileWriter writer;
    writer.Start(fd, 0);
    const std::size_t handed = Feed(writer, bytes, 5);
    const int finished = writer.Finish();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(finished, EFBIG);
    EXPECT_EQ(writer.Error(), EFBIG);
    EXPECT_LT(handed, bytes.size());  // blocks are refused once the failure is known
    const std::string got = ReadAll(path);
    EXPECT_LE(got.size(), static_cast<std::size_t>(limit));
    EXPECT_TRUE(got == bytes.substr(0, got.size()));
    EXPECT_LE(AllocatedPastEnd(path), 64 * 1024);
    fs::remove(path);
  }
}

}  // namespace
