#pragma once

#include <string>

#include "session/session.h"

namespace z18 {

// Checks the argument vector and fills the session's options and path fields; 1 valid, 0 not.
int parseCommandLine(Session& s, int argc, const char* const* argv);

// Splits text at its last separator ("\" or "/"): the directory part keeps the separator.
void splitPath(std::string& dir, std::string& name, const std::string& text);

void printUsage(Session& s);

}  // namespace z18
