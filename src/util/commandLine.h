// The program's arguments as UTF-8 text.
#pragma once

#include <string>
#include <vector>

// On Windows the arguments come from the wide-character command line, so that names outside
// the ANSI code page arrive intact; elsewhere argv is taken as it is.
std::vector<std::string> utf8Arguments(int argc, char** argv);
