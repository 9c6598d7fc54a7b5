#pragma once
// The program's start-up sequence and its command-line options.

namespace skm {

// Parses the options, runs a headless command when one is given, else shows the splash
// and the main window and runs the event loop. Returns the process exit code.
int ProgramMain(int argc, char** argv);

} // namespace skm
