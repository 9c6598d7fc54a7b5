#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/core/IniFile.h"

using skm::TIniFile;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

} // namespace

TEST(IniFile, WritesBomCrLfAndEmptyLineAfterEverySection) {
  TIniFile ini;
  ini.WriteInteger("A", "x", 1);
  ini.WriteString("B", "y", "two");
  EXPECT_EQ(ini.ToText(), "\xEF\xBB\xBF[A]\r\nx=1\r\n\r\n[B]\r\ny=two\r\n\r\n");
}

TEST(IniFile, NamesMatchWithoutCaseAndKeepFirstSpelling) {
  TIniFile ini;
  ini.LoadFromText("[Theme]\nMode=2\n");
  EXPECT_EQ(ini.ReadInteger("THEME", "mode", 0), 2);
  ini.WriteInteger("theme", "MODE", 1);
  EXPECT_EQ(ini.ToText(), "\xEF\xBB\xBF[Theme]\r\nMode=1\r\n\r\n");
}

TEST(IniFile, UnknownSectionsAndKeysStayInPlace) {
  TIniFile ini;
  ini.LoadFromText("\xEF\xBB\xBF[Other]\r\nkeep=me\r\n\r\n[Theme]\r\nColour=red\r\nMode=0\r\n; note\r\n\r\n");
  ini.WriteInteger("Theme", "Mode", 2);
  ini.WriteInteger("Theme", "New", 5);
  EXPECT_EQ(ini.ToText(),
            "\xEF\xBB\xBF[Other]\r\nkeep=me\r\n\r\n[Theme]\r\nColour=red\r\nMode=2\r\n; note\r\nNew=5\r\n\r\n");
}

TEST(IniFile, ValueParsingTable) {
  struct Row {
    const char* value;
    int32_t asInt;    // default 77
    double asFloat;   // default -1, locale separator ','
  };
  const Row rows[] = {
      {"12", 12, 12},         {"-3", -3, -3},          {"0x1F", 31, -1},      {"0XFF", 255, -1},
      {"$10", 16, -1},        {"0xFFFFFFFF", -1, -1},  {"abc", 77, -1},       {"", 77, -1},
      {" 7 ", 7, 7},          {"1.25", 77, 1.25},      {"1,25", 77, 1.25},    {"2e1", 77, 20},
      {"99999999999", 77, 99999999999.0}, {"0x", 77, -1}, {"nan", 77, -1},    {"inf", 77, -1},
      {"1.5.2", 77, -1},      {"+4", 4, 4},            {"++1", 77, -1},       {"+-2", 77, -1},
      {"+.5", 77, 0.5},
  };
  for (const Row& r : rows) {
    TIniFile ini;
    ini.WriteString("S", "k", r.value);
    EXPECT_EQ(ini.ReadInteger("S", "k", 77), r.asInt) << "'" << r.value << "'";
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "k", -1, ','), r.asFloat) << "'" << r.value << "'";
  }
  TIniFile ini;
  EXPECT_EQ(ini.ReadInteger("missing", "k", 5), 5);
  EXPECT_TRUE(ini.ReadBool("missing", "k", true));
}

TEST(IniFile, FloatsAreWrittenInShortestGeneralForm) {
  EXPECT_EQ(skm::FormatIniFloat(1.0), "1");
  EXPECT_EQ(skm::FormatIniFloat(0.1), "0.1");
  EXPECT_EQ(skm::FormatIniFloat(1.2), "1.2");
  EXPECT_EQ(skm::FormatIniFloat(static_cast<double>(0.3f)), "0.300000011920929");
}

TEST(IniFile, ReadsLfFilesWithoutBomAndCrOnly) {
  TIniFile ini;
  ini.LoadFromText("[A]\nk=1\n[B]\rk=2\r[C]\r\nk=3\r\n\r\nj=4");
  EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
  EXPECT_EQ(ini.ReadInteger("B", "k", 0), 2);
  EXPECT_EQ(ini.ReadInteger("C", "k", 0), 3);
  EXPECT_EQ(ini.ReadInteger("C", "j", 0), 4);
}

TEST(IniFile, DeleteKeyAndEraseSection) {
  TIniFile ini;
  ini.LoadFromText("[S]\na=1\nb=2\nc=3\n[T]\nx=1\n");
  ini.DeleteKey("s", "B");
  EXPECT_FALSE(ini.ValueExists("S", "b"));
  EXPECT_EQ(ini.ReadInteger("S", "c", 0), 3);
  ini.EraseSection("t");
  EXPECT_FALSE(ini.SectionExists("T"));
  EXPECT_EQ(ini.ToText(), "\xEF\xBB\xBF[S]\r\na=1\r\nc=3\r\n\r\n");
}

TEST(IniFile, SaveReplacesAtomicallyAndRoundTrips) {
  const std::string dir = skmtest::MakeTempDir();
  const std::string path = dir + "/a.ini";
  TIniFile ini;
  ini.WriteString("S", "k", "v");
  std::string err;
  ASSERT_TRUE(ini.SaveToFile(path, &err)) << err;
  TIniFile back;
  ASSERT_TRUE(back.LoadFromFile(path));
  EXPECT_EQ(back.ToText(), ini.ToText());
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++files;
  EXPECT_EQ(files, 1);
}

TEST(IniFile, FailedSaveReportsAndKeepsOldFile) {
  // A path below a regular file cannot be written by anyone.
  {
    const std::string dir = skmtest::MakeTempDir();
    WriteAll(dir + "/file", "x");
    TIniFile ini;
    std::string err;
    EXPECT_FALSE(ini.SaveToFile(dir + "/file/sub.ini", &err));
    EXPECT_FALSE(err.empty());
  }
  // A read-only folder. Root ignores folder permissions, so as root the save runs in a
  // child process that has given up its privileges.
  char tmpl[] = "/tmp/skm-ro-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const std::string path = dir + "/keep.ini";
  WriteAll(path, "[Old]\r\nk=1\r\n");
  ::chmod(path.c_str(), 0644);
  ::chmod(dir.c_str(), 0555);
  auto attempt = [&]() -> int {
    TIniFile ini;
    ini.WriteString("New", "k", "2");
    std::string err;
    if (ini.SaveToFile(path, &err)) return 1;                      // must fail
    if (err.find("keep.ini") == std::string::npos) return 2;      // and say where
    return 0;
  };
  int result = 0;
  if (::geteuid() == 0) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      ::_exit(attempt());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result = WIFEXITED(status) ? WEXITSTATUS(status) : 4;
  } else {
    result = attempt();
  }
  ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadAll(path), "[Old]\r\nk=1\r\n");
  std::filesystem::remove_all(dir);
}

TEST(IniFile, MissingFileIsEmptyAndUnreadableIsAnError) {
  TIniFile ini;
  EXPECT_TRUE(ini.LoadFromFile("/nonexistent/dir/x.ini"));
  EXPECT_TRUE(ini.Sections().empty());
  std::string err;
  EXPECT_FALSE(ini.LoadFromFile(skmtest::MakeTempDir(), &err)); // a folder
  EXPECT_FALSE(err.empty());
}
