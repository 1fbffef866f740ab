#include "cli/Program.h"

int main(int argc, char** argv) { return zpxcli::RunZpx(argc, argv); }
