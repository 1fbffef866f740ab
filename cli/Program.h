// The zpx program as a function, so that main() is one line.
#pragma once

namespace zpxcli {

// Parses the command line, runs the chosen command and returns the exit status.
int RunZpx(int argc, char** argv);

}  // namespace zpxcli
