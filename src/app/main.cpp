// Program entry: command-line options, then the start-up sequence.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/StartUp.h"

int main(int argc, char** argv) {
  return skm::ProgramMain(argc, argv);
}
