#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace skmtest {

std::string SourceDir() {
  if (const char* s = std::getenv("SKM_SOURCE_DIR")) return s;
  return SKM_DEFAULT_SOURCE_DIR;
}

std::string CorpusDir() {
  std::string dir;
  if (const char* s = std::getenv("SKM_CORPUS_DIR")) dir = s;
  else dir = SourceDir() + "/../shared/corpus";
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

std::string MakeTempDir() {
  static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
  dirs.push_back(std::make_unique<QTemporaryDir>());
  return dirs.back()->path().toStdString();
}

namespace {
std::optional<std::string> GetEnv(const char* name) {
  if (const char* v = std::getenv(name)) return std::string(v);
  return std::nullopt;
}
void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}
} // namespace

TTempHome::TTempHome()
    : FHome(MakeTempDir()), FOldHome(GetEnv("HOME")), FOldDataHome(GetEnv("XDG_DATA_HOME")) {
  QDir(QString::fromStdString(FHome)).mkpath("data");
  ::setenv("HOME", FHome.c_str(), 1);
  ::setenv("XDG_DATA_HOME", (FHome + "/data").c_str(), 1);
}

TTempHome::~TTempHome() {
  RestoreEnv("HOME", FOldHome);
  RestoreEnv("XDG_DATA_HOME", FOldDataHome);
}

} // namespace skmtest
