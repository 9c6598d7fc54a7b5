#pragma once
// Helpers shared by the test binaries.
#include <string>

namespace skmtest {

// The project's source folder (from SKM_SOURCE_DIR, else the build's own).
std::string SourceDir();
// ../shared/corpus beside the project (from SKM_CORPUS_DIR); empty when it is absent.
std::string CorpusDir();
// A fresh empty folder under the system's temporary folder, removed at process exit.
std::string MakeTempDir();

} // namespace skmtest
