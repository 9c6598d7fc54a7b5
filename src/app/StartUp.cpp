#include "app/StartUp.h"

#include <QApplication>
#include <QTextStream>
#include <cstdio>
#include <cstring>

#include "platform/FMXUtils.h"

namespace skm {

int ProgramMain(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("sketchmark-movies %s\n", VersionText().toUtf8().constData());
      return 0;
    }
  }
  QApplication app(argc, argv);
  return 0;
}

} // namespace skm
