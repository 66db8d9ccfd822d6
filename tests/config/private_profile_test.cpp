// The private-profile reader and writer on files written by hand.
#include "config/private_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"
#ifdef _WIN32
#include "platform/win/wide_text.h"
#endif

using config::get_private_profile_string;
using config::profile_string;
using config::write_private_profile_string;
using testing_support::read_file;

namespace {

// How the failures below name a missing folder and begin an absolute path on this system.
#ifdef _WIN32
const std::string kNoSuchFolder = platform::win::error_text(ERROR_PATH_NOT_FOUND);
const std::string kPathStart = std::filesystem::temp_directory_path().string().substr(0, 1);
#else
const std::string kNoSuchFolder = "No such file or directory";
const std::string kPathStart = "/";
#endif

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

// A UTF-16 file's bytes, byte order mark first.
std::string utf16(std::u16string_view text, bool little_endian = true) {
  std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t u : text) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    out += little_endian ? low : high;
    out += little_endian ? high : low;
  }
  return out;
}

}  // namespace

TEST_F(PrivateProfileTest, ReadsHandWrittenFilesWithAnyLineEnd) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
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
  EXPECT_EQ(get("A", "y"), "?");  // a later section of the same name is never read
  EXPECT_EQ(get("B", "x"), "3");
  EXPECT_EQ(get("", "top"), "?");
  ASSERT_TRUE(put("a", "X", "new"));
  EXPECT_EQ(read_file(file), "top=before any section\n[A]\nx=new\nX=2\n[B]\nx=3\n[a]\nx=4\ny=5\n");
  ASSERT_TRUE(put("A", "y", "6"));  // added to the first section, where it is read from
  EXPECT_EQ(read_file(file),
            "top=before any section\n[A]\nx=new\nX=2\ny=6\n[B]\nx=3\n[a]\nx=4\ny=5\n");
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
  EXPECT_EQ(read_file(file), "[ATPort_First]\r\nnumber=5\r\n");  // a new file: CR LF

  write("[A]\r\nx=1\r\n; about B\r\n\r\n[B]\r\ny=2");  // CRLF, no final line end
  ASSERT_TRUE(put("a", "z", "3"));
  ASSERT_TRUE(put("B", "w", "4"));
  ASSERT_TRUE(put("C", "v", "5"));
  EXPECT_EQ(read_file(file),
            "[A]\r\nx=1\r\nz=3\r\n; about B\r\n\r\n[B]\r\ny=2\r\nw=4\r\n[C]\r\nv=5\r\n");

  write("[Empty]");
  ASSERT_TRUE(put("Empty", "k", "1"));
  EXPECT_EQ(read_file(file), "[Empty]\r\nk=1\r\n");  // no line end to follow: CR LF
}

TEST_F(PrivateProfileTest, ValuesReadBackExactlyAsWritten) {
  for (const std::string value :
       {" lead", "trail\t", "\"quoted\"", "'single'", "\"", "a=b;c", "", "[S]"})
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
  EXPECT_EQ(w[9].rfind("write_private_profile_string() failed, create temporary file: " +
                           kNoSuchFolder + ": [S] k in " + kPathStart,
                       0),
            0u)
      << w[9];
  EXPECT_EQ(w[11].rfind("write_private_profile_string() failed, the settings folder is unknown", 0),
            0u);
}

#ifndef _WIN32  // permission bits and symbolic links of a POSIX system
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
#endif

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

TEST_F(PrivateProfileTest, OnlyTheFirstSectionOfANameIsReadAndWritten) {
  write("[ATPort_First]\r\n[Other]\r\nnumber=1\r\n[atport_first]\r\nnumber=9\r\n");
  EXPECT_EQ(get("ATPort_First", "number"), "?");
  ASSERT_TRUE(put("ATPort_First", "number", "5"));
  EXPECT_EQ(read_file(file),
            "[ATPort_First]\r\nnumber=5\r\n[Other]\r\nnumber=1\r\n[atport_first]\r\nnumber=9\r\n");
  EXPECT_EQ(get("atport_FIRST", "number"), "5");
}

TEST_F(PrivateProfileTest, WritesKeepTheLineEndsOfTheFile) {
  const struct {
    std::string before, after;
  } cases[] = {
      {"[S]\rk=cr\r", "[S]\rk=cr\rn=1\r[T]\rm=2\r"},
      {"[S]\rk=cr", "[S]\rk=cr\rn=1\r[T]\rm=2\r"},
      {"[S]\nk=lf\r", "[S]\nk=lf\rn=1\n[T]\nm=2\n"},  // the style of the first line end
      {"[S]\r\nk=crlf\r", "[S]\r\nk=crlf\r\nn=1\r\n[T]\r\nm=2\r\n"},
      {"", "[S]\r\nn=1\r\n[T]\r\nm=2\r\n"},
  };
  for (const auto& c : cases) {
    write(c.before);
    ASSERT_TRUE(put("S", "n", "1"));
    ASSERT_TRUE(put("T", "m", "2"));
    EXPECT_EQ(read_file(file), c.after) << testing::PrintToString(c.before);
  }
}

TEST_F(PrivateProfileTest, ADefaultLosesItsTrailingBlanksOnly) {
  write("[S]\nk=\"found  \"\n");
  for (const auto& [given, used] : {std::pair{"  dflt  ", "  dflt"}, {"a \t", "a"}, {"  ", ""}}) {
    EXPECT_EQ(get("S", "missing", given), used);
    EXPECT_EQ(get("S", "k", given), "found  ");
  }
  EXPECT_EQ(profile_string(config::ProfileText(), "S", "k", "abc  ", 3), "ab");
}

TEST_F(PrivateProfileTest, ACarriageReturnInANameOrValueIsRefused) {
  write("[S]\r\nk=1\r\n");
  EXPECT_FALSE(put("S\r", "k", "1"));
  EXPECT_FALSE(put("S", "k\r", "1"));
  EXPECT_FALSE(put("S", "k", "a\rb"));
  EXPECT_FALSE(put("S", "k", "\r"));
  EXPECT_EQ(read_file(file), "[S]\r\nk=1\r\n");
}

TEST_F(PrivateProfileTest, AUtf8ByteOrderMarkIsReadAsAbsentAndKept) {
  write("\xEF\xBB\xBF[FilePath]\r\nPath=/a\r\n");
  EXPECT_EQ(get("FilePath", "Path"), "/a");
  ASSERT_TRUE(put("FilePath", "Path", "/b"));
  ASSERT_TRUE(put("ATPort_First", "number", "3"));
  EXPECT_EQ(read_file(file), "\xEF\xBB\xBF[FilePath]\r\nPath=/b\r\n[ATPort_First]\r\nnumber=3\r\n");
}

TEST_F(PrivateProfileTest, Utf16FilesAreReadAsUtf8AndWrittenBackInTheirEncoding) {
  for (const bool little_endian : {true, false}) {
    for (const std::u16string eol : {u"\r\n", u"\n"}) {
      // U+6587 U+4EF6, and U+1F600 as a surrogate pair.
      write(utf16(u"\x6587=x" + eol + u"[FilePath]" + eol +
                      u"Path=/fw/\x6587\x4EF6\xD83D\xDE00.bin" + eol + u"SleepTime=0" + eol,
                  little_endian));
      EXPECT_EQ(get("FilePath", "Path"), "/fw/\xE6\x96\x87\xE4\xBB\xB6\xF0\x9F\x98\x80.bin");
      EXPECT_EQ(get("FilePath", "SleepTime"), "0");
      ASSERT_TRUE(put("FilePath", "Path", "/b/\xC3\xA9"));
      ASSERT_TRUE(put("ATPort_First", "number", "5"));
      EXPECT_EQ(read_file(file),
                utf16(u"\x6587=x" + eol + u"[FilePath]" + eol + u"Path=/b/\xE9" + eol +
                          u"SleepTime=0" + eol + u"[ATPort_First]" + eol + u"number=5" + eol,
                      little_endian));
    }
  }
}

TEST_F(PrivateProfileTest, Utf16ThatDoesNotConvertIsReadAsFarAsItGoesAndNeverRewritten) {
  const struct {
    std::string content;
    std::string bad;  // how the damaged value reads
  } cases[] = {
      {utf16(u"[S]\r\nk=ok\r\nbad=a\xD800\r\n"), "a\xEF\xBF\xBD"},
      {utf16(u"[S]\r\nk=ok\r\nbad=\xDE00\xD83D"
             u"b\r\n"),
       "\xEF\xBF\xBD\xEF\xBF\xBD"
       "b"},
      {utf16(u"[S]\r\nk=ok\r\nbad=c") + "d", "c"},  // an odd byte count
  };
  for (const auto& c : cases) {
    write(c.content);
    testing_support::DebugCapture debug;
    EXPECT_EQ(get("S", "k"), "ok");
    EXPECT_EQ(get("S", "bad"), c.bad);
    EXPECT_FALSE(put("S", "k", "new"));
    EXPECT_EQ(read_file(file), c.content);
    auto w = debug.writes();  // each line is written after a line end of its own
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[1].rfind("read_profile_file() the UTF-16 text has an odd byte count or an unpaired "
                         "surrogate; read as far as it converts: " +
                             kPathStart,
                         0),
              0u)
        << w[1];
    EXPECT_EQ(w[5].rfind("write_private_profile_string() failed, the UTF-16 text has an odd byte "
                         "count or an unpaired surrogate: [S] k in " +
                             kPathStart,
                         0),
              0u)
        << w[5];
  }

  // A name or value that is not UTF-8 has no UTF-16 form.
  write(utf16(u"[S]\r\nk=1\r\n"));
  EXPECT_FALSE(put("S", "k", "\xFF"));
  EXPECT_FALSE(put("\xC0\xAF", "k", "1"));
  EXPECT_EQ(read_file(file), utf16(u"[S]\r\nk=1\r\n"));
}
