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

} // namespace skmtest
