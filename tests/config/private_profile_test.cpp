// The private-profile reader and writer on files written by hand.
#include "config/private_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

using config::get_private_profile_string;
using config::write_private_profile_string;
using testing_support::read_file;

namespace {

class PrivateProfileTest : public ::testing::Test {
 protected:
  void write(const std::string& content) { std::ofstream(file, std::ios::binary) << content; }
  std::string get(const std::string& section, const std::string& key,
                  const std::string& def = "?") {
    return get_private_profile_string(section, key, def, file);
  }
  bool put(const std::string& section, const std::string& key, const std::string& value) {
    return write_private_profile_string(section, key, value, file);
  }
  // Writing and reading back give the same value.
  void expect_round_trip(const std::string& value) {
    ASSERT_TRUE(put("S", "k", value));
    EXPECT_EQ(get("S", "k"), value) << read_file(file);
  }

  testing_support::TempDir dir;
  std::string file = (dir.path() / "ZEBL.ini").string();
};

}  // namespace

TEST_F(PrivateProfileTest, ReadsHandWrittenFilesWithEitherLineEnd) {
  for (const std::string eol : {"\n", "\r\n"}) {
    write("; settings of bench 4" + eol + "  [ filepath ]  " + eol + "\tPATH\t =  /srv/a b.bin  " +
          eol + "Empty=" + eol + "Quoted = \" padded \"" + eol + "Single='x'" + eol +
          "Half=\"open" + eol + "; Commented=1" + eol + "NoEquals" + eol + "=orphan" + eol +
          "Path=second" + eol + "[Other]" + eol + "Last=final");  // no final line end
    EXPECT_EQ(get("FilePath", "Path"), "/srv/a b.bin");
    EXPECT_EQ(get("FILEPATH", "empty"), "");
    EXPECT_EQ(get("FilePath", "Quoted"), " padded ");
    EXPECT_EQ(get("FilePath", "Single"), "x");
    EXPECT_EQ(get("FilePath", "Half"), "\"open");
    EXPECT_EQ(get("FilePath", "Commented"), "?");
    EXPECT_EQ(get("FilePath", "; Commented"), "?");
    EXPECT_EQ(get("FilePath", "NoEquals"), "?");
    EXPECT_EQ(get("FilePath", ""), "?");
    EXPECT_EQ(get("Other", "Last"), "final");
    EXPECT_EQ(get("Other", "Path"), "?");
    EXPECT_EQ(get("Missing", "Path", "dflt"), "dflt");
  }
}

TEST_F(PrivateProfileTest, FirstOfDuplicateKeysAndSectionsWins) {
  write("top=before any section\n[A]\nx=1\nX=2\n[B]\nx=3\n[a]\nx=4\ny=5\n");
  EXPECT_EQ(get("A", "x"), "1");
  EXPECT_EQ(get("A", "y"), "5");  // a later section of the same name is read too
  EXPECT_EQ(get("B", "x"), "3");
  EXPECT_EQ(get("", "top"), "?");
  ASSERT_TRUE(put("a", "X", "new"));
  EXPECT_EQ(read_file(file), "top=before any section\n[A]\nx=new\nX=2\n[B]\nx=3\n[a]\nx=4\ny=5\n");
  ASSERT_TRUE(put("A", "y", "6"));  // replaced where it is read from
  EXPECT_EQ(get("a", "Y"), "6");
  EXPECT_EQ(get("A", "x"), "new");
}

TEST_F(PrivateProfileTest, MissingFileAndLongValuesReadAsTheDefaultOrCutTo259) {
  EXPECT_EQ(get("FilePath", "Path", "none"), "none");
  EXPECT_FALSE(std::ifstream(file).good());  // reading creates nothing
  const std::string long_value(1000, 'v');
  write("[S]\nk=" + long_value + "\n");
  EXPECT_EQ(get("S", "k"), std::string(259, 'v'));
  EXPECT_EQ(get_private_profile_string("S", "k", "", file, 11), std::string(10, 'v'));
  EXPECT_EQ(get_private_profile_string("S", "none", long_value, file), std::string(259, 'v'));
  expect_round_trip(std::string(200000, 'w').substr(0, 259));
}

TEST_F(PrivateProfileTest, WriteReplacesInPlaceKeepingEveryOtherByte) {
  const std::string before =
      "; keep me\r\n[filePATH]\r\n  path = \"old value\" \r\nSleepTime=8000\r\n\r\n[Other]\r\n"
      "path=other\r\n";
  write(before);
  ASSERT_TRUE(put("FilePath", "Path", "/new/\xe6\x96\x87\xe4\xbb\xb6.bin"));
  EXPECT_EQ(read_file(file),
            "; keep me\r\n[filePATH]\r\n  path = /new/\xe6\x96\x87\xe4\xbb\xb6.bin\r\n"
            "SleepTime=8000\r\n\r\n[Other]\r\npath=other\r\n");
  ASSERT_TRUE(put("FilePath", "Path", ""));  // the empty text keeps the key
  EXPECT_EQ(get("FilePath", "Path"), "");
  EXPECT_NE(read_file(file).find("  path = \r\n"), std::string::npos);
}

TEST_F(PrivateProfileTest, WriteAppendsKeySectionOrFileInTheFilesLineEndStyle) {
  ASSERT_TRUE(put("ATPort_First", "number", "5"));
  EXPECT_EQ(read_file(file), "[ATPort_First]\nnumber=5\n");

  write("[A]\r\nx=1\r\n; about B\r\n\r\n[B]\r\ny=2");  // CRLF, no final line end
  ASSERT_TRUE(put("a", "z", "3"));
  ASSERT_TRUE(put("B", "w", "4"));
  ASSERT_TRUE(put("C", "v", "5"));
  EXPECT_EQ(read_file(file),
            "[A]\r\nx=1\r\nz=3\r\n; about B\r\n\r\n[B]\r\ny=2\r\nw=4\r\n[C]\r\nv=5\r\n");

  write("[Empty]");
  ASSERT_TRUE(put("Empty", "k", "1"));
  EXPECT_EQ(read_file(file), "[Empty]\nk=1\n");
}

TEST_F(PrivateProfileTest, ValuesReadBackExactlyAsWritten) {
  for (const std::string value :
       {" lead", "trail\t", "\"quoted\"", "'single'", "\"", "a=b;c", "", "\r", "[S]"})
    expect_round_trip(value);
}

TEST_F(PrivateProfileTest, RefusedWritesAndFailuresLeaveTheFileAndSayWhy) {
  write("[S]\nk=1\n");
  testing_support::DebugCapture debug;
  EXPECT_FALSE(put("S", "k", "two\nlines"));
  EXPECT_FALSE(put("S", "k=", "1"));
  EXPECT_FALSE(put("S ", "k", "1"));
  EXPECT_FALSE(put("S", "[k]", "1"));
  EXPECT_EQ(read_file(file), "[S]\nk=1\n");
  EXPECT_FALSE(write_private_profile_string("S", "k", "1", dir.str() + "/missing/ZEBL.ini"));
  EXPECT_FALSE(write_private_profile_string("S", "k", "1", ""));
  auto w = debug.writes();
  ASSERT_EQ(w.size(), 12u);
  EXPECT_EQ(w[1].rfind("write_private_profile_string() failed, a name or the value", 0), 0u);
  EXPECT_EQ(w[9].rfind("write_private_profile_string() failed, create temporary file: No such "
                       "file or directory: [S] k in /",
                       0),
            0u)
      << w[9];
  EXPECT_EQ(w[11].rfind("write_private_profile_string() failed, the settings folder is unknown", 0),
            0u);
}

TEST_F(PrivateProfileTest, WriteKeepsPermissionsAndSymbolicLinksAndLeavesNoTemporaryFile) {
  write("[S]\nk=1\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(put("S", "k", "2"));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const std::string link = (dir.path() / "link.ini").string();
  ASSERT_EQ(::symlink("ZEBL.ini", link.c_str()), 0);
  ASSERT_TRUE(write_private_profile_string("S", "k", "3", link));
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(get("S", "k"), "3");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) entries += !e.is_directory();
  EXPECT_EQ(entries, 2);
}

TEST_F(PrivateProfileTest, AFileThatCannotBeReadGivesDefaultsAndIsNeverReplaced) {
  std::filesystem::create_directory(file);  // a folder where the file should be
  testing_support::DebugCapture debug;
  EXPECT_EQ(get("S", "k", "d"), "d");
  EXPECT_FALSE(put("S", "k", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(file));
  std::filesystem::remove(file);
  write("[S]\nk=" + std::string(config::kMaxProfileFileSize, 'x') + "\n");
  EXPECT_FALSE(put("S", "k", "1"));
  EXPECT_EQ(std::filesystem::file_size(file), config::kMaxProfileFileSize + 7);
  bool said = false;
  for (const std::string& line : debug.writes())
    said |= line.find("larger than 1 MiB") != line.npos;
  EXPECT_TRUE(said);
}
