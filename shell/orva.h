#pragma once

namespace orva {

// The shell's entry: returns the process exit code.
int Main(int argc, char** argv);

}  // namespace orva
