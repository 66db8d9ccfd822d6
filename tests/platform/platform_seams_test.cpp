// The seams that the engine's files, records and logs go through, on every system.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/random_id.h"
#include "platform/sha256.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::File;
using platform::FileAccess;
using platform::FileError;
using platform::FileStatus;

std::string read_all(const std::string& path) {
  File file = File::open(path, FileAccess::read);
  std::string content;
  char buffer[7];  // small, so that reading takes several calls
  for (long n; (n = file.read(buffer, sizeof buffer)) > 0;) content.append(buffer, size_t(n));
  return content;
}

TEST(FilesTest, AppendsCreatesReplacesAndTellsWhatIsThere) {
  testing_support::TempDir dir;
  const std::string path = (dir.path() / "log.ini").string();
  FileError error;
  EXPECT_FALSE(File::open(path, FileAccess::read, &error).is_open());
  EXPECT_TRUE(error.missing);

  // Appending creates the file and keeps every byte as written, line ends included.
  for (const char* record : {"AT\r\n", "OK\n\x1a\0"}) {
    File file = File::open(path, FileAccess::append);
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(file.write_all(std::string_view(record, 5)));
  }
  EXPECT_EQ(read_all(path), std::string("AT\r\n\0OK\n\x1a\0", 10));

  // A file opened for reading and appending: writes go to the end, reads of a byte anywhere.
  {
    File file = File::open(path, FileAccess::read_append);
    ASSERT_TRUE(file.lock());
    FileStatus st;
    ASSERT_TRUE(file.status(&st));
    EXPECT_TRUE(st.regular);
    EXPECT_EQ(st.size, 10);
    char byte = 0;
    EXPECT_TRUE(file.read_byte_at(st.size - 2, &byte));
    EXPECT_EQ(byte, '\x1a');
    EXPECT_FALSE(file.read_byte_at(st.size, &byte));
    ASSERT_TRUE(file.write_all("tail"));
    ASSERT_TRUE(file.truncate(12));
    file.unlock();
    EXPECT_TRUE(file.flush_to_disk());
    EXPECT_TRUE(file.close());
  }
  EXPECT_EQ(read_all(path), std::string("AT\r\n\0OK\n\x1a\0ta", 12));

  // A new file is refused under a name that is taken, and replaces the old file in one step.
  const std::string temporary = (dir.path() / ".log.ini.tmp").string();
  EXPECT_FALSE(File::open(path, FileAccess::create_new, &error).is_open());
  EXPECT_TRUE(error.exists);
  {
    File file = File::open(temporary, FileAccess::create_new);
    ASSERT_TRUE(file.write_all("new"));
  }
  ASSERT_TRUE(platform::replace_file(temporary, path));
  EXPECT_EQ(read_all(path), "new");
  EXPECT_FALSE(File::open(temporary, FileAccess::read).is_open());
  EXPECT_TRUE(platform::remove_file(path));
  EXPECT_FALSE(platform::remove_file(path));

  // A folder opens for reading and tells what it is.
  File folder = File::open(dir.str(), FileAccess::read);
  ASSERT_TRUE(folder.is_open());
  FileStatus st;
  ASSERT_TRUE(folder.status(&st));
  EXPECT_TRUE(st.directory);
  EXPECT_FALSE(st.regular);
}

TEST(FilesTest, ReadsAtAnOffsetKeepThePositionAndALinkInPlaceOfTheFileIsRefusedWhereAsked) {
  testing_support::TempDir dir;
  const std::filesystem::path target = dir.path() / "elsewhere.csv";
  const std::filesystem::path link = dir.path() / "runs.csv";
  const std::filesystem::path dangling = dir.path() / "dangling.csv";
  {
    File file = File::open(target.string(), FileAccess::create_new);
    ASSERT_TRUE(file.write_all("kept"));
  }
  FileError error;
  {
    File file = File::open(target.string(), FileAccess::read, &error, platform::FileLinks::refuse);
    ASSERT_TRUE(file.is_open());
    char bytes[4] = {};
    EXPECT_TRUE(file.read_at(1, bytes, 3));
    EXPECT_EQ(std::string(bytes, 3), "ept");
    EXPECT_FALSE(file.read_at(2, bytes, 3));  // only two bytes there
    EXPECT_EQ(file.read(bytes, 4), 4);        // the position is still at the start
    EXPECT_EQ(std::string(bytes, 4), "kept");
  }

  std::error_code ec;
  std::filesystem::create_symlink(target, link, ec);
  if (!ec) std::filesystem::create_symlink(dir.path() / "nowhere.csv", dangling, ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  for (const auto& path : {link, dangling}) {
    for (FileAccess access : {FileAccess::read, FileAccess::read_append}) {
      SCOPED_TRACE(path.string());
      EXPECT_FALSE(
          File::open(path.string(), access, &error, platform::FileLinks::refuse).is_open());
      EXPECT_TRUE(error.link);
      EXPECT_EQ(error.text, "is a symbolic link");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "nowhere.csv"));  // nothing made through it
  EXPECT_TRUE(File::open(link.string(), FileAccess::read, &error).is_open());  // followed otherwise
  EXPECT_EQ(read_all(target.string()), "kept");
}

// A file is given a new name only where none is taken: the file there and the one to be renamed
// both stay as they were.
TEST(FilesTest, ARenameNeverReplacesAFile) {
  testing_support::TempDir dir;
  const std::string from = (dir.path() / "runs.csv").string();
  const std::string taken = (dir.path() / "runs-until-2026-12-09.csv").string();
  const std::string free = (dir.path() / "runs-until-2026-12-09-2.csv").string();
  ASSERT_TRUE(File::open(from, FileAccess::append).write_all("old\r\n"));
  ASSERT_TRUE(File::open(taken, FileAccess::append).write_all("kept\r\n"));
  FileError error;
  EXPECT_FALSE(platform::rename_file_new(from, taken, &error));
  EXPECT_TRUE(error.exists) << error.text;
  EXPECT_EQ(read_all(taken), "kept\r\n");
  EXPECT_EQ(read_all(from), "old\r\n");
  ASSERT_TRUE(platform::rename_file_new(from, free, &error)) << error.text;
  EXPECT_EQ(read_all(free), "old\r\n");
  EXPECT_FALSE(File::open(from, FileAccess::read, &error).is_open());
  EXPECT_TRUE(error.missing);
}

// Ids are version 4 of the RFC's variant, and never repeat.
TEST(RandomIdTest, UuidsAreVersionFourAndDistinct) {
  std::set<std::string> seen;
  for (int k = 0; k < 100; ++k) {
    const std::string id = platform::uuid_v4();
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(id[8], '-');
    EXPECT_EQ(id[13], '-');
    EXPECT_EQ(id[14], '4');
    EXPECT_EQ(id[18], '-');
    EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
    EXPECT_EQ(id[23], '-');
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(LocalTimeTest, CalendarOffsetAndInstantAgree) {
  for (std::time_t t : {std::time_t{0}, std::time_t{1781006587}, std::time_t{1798761599}}) {
    SCOPED_TRACE(t);
    const std::tm local = platform::local_calendar_time(t);
    // The local fields read as UTC are the instant moved by the offset.
    EXPECT_EQ(platform::utc_instant(local) - platform::utc_offset_seconds(local), t);
  }
  std::tm utc{};
  utc.tm_year = 2026 - 1900;
  utc.tm_mon = 11;  // December
  utc.tm_mday = 31;
  utc.tm_hour = 23;
  utc.tm_min = 59;
  utc.tm_sec = 59;
  EXPECT_EQ(platform::utc_instant(utc), 1798761599);
  utc.tm_mon = 12;  // carries into January 2027
  utc.tm_mday = 1;
  utc.tm_hour = utc.tm_min = utc.tm_sec = 0;
  EXPECT_EQ(platform::utc_instant(utc), 1798761600);
  EXPECT_FALSE(platform::host_name().empty());
}

TEST(Sha256Test, KnownDigests) {
  EXPECT_EQ(platform::sha256_hex(nullptr, 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(platform::sha256_hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
