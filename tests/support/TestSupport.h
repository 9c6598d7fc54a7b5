#pragma once
// Helpers shared by the test binaries.
#include <optional>
#include <string>

namespace skmtest {

// The project's source folder (from SKM_SOURCE_DIR, else the build's own).
std::string SourceDir();
// ../shared/corpus beside the project (from SKM_CORPUS_DIR); empty when it is absent.
std::string CorpusDir();
// A fresh empty folder under the system's temporary folder, removed at process exit.
std::string MakeTempDir();

// Points HOME and XDG_DATA_HOME at a fresh temporary folder while it lives and restores
// them after, so whatever a test moves to the desktop trash lands in a trash of its own
// (TrashDir), never in the trash of whoever runs the tests. Files to be trashed belong
// under Home(): on another file system the desktop rules pick that file system's trash.
class TTempHome {
public:
  TTempHome();
  ~TTempHome();
  TTempHome(const TTempHome&) = delete;
  TTempHome& operator=(const TTempHome&) = delete;
  const std::string& Home() const { return FHome; }
  // XDG_DATA_HOME/Trash: its "files" and "info" folders receive what is trashed.
  std::string TrashDir() const { return FHome + "/data/Trash"; }

private:
  std::string FHome;
  std::optional<std::string> FOldHome, FOldDataHome;
};

} // namespace skmtest
