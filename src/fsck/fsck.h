// z18fsck: checks an image, salvages its files into a folder and writes a repaired copy, never
// writing the image it reads. Built on the image store of z18man; the session driver is not used.
#pragma once

#include <ostream>
#include <string>

#include "session/session.h"

namespace z18::fsck {

constexpr int EXIT_CLEAN = 0;     // nothing wrong
constexpr int EXIT_PROBLEMS = 1;  // problems found (and, with -x or -o, handled)
constexpr int EXIT_FAILED = 2;    // the work could not be done

// Runs one command line (argv[0] is the program's name) and returns the exit status. The report
// goes to the session's stream, failures and faults of the command line to err (the session's
// stream where none is given).
int runFsck(Session& s, std::ostream& err, int argc, const char* const* argv);
int runFsck(Session& s, int argc, const char* const* argv);

}  // namespace z18::fsck
