#pragma once

#include "session/session.h"
#include "session/status.h"

namespace z18 {

// One whole run: banner, command line, image, format, directory, one command, close. Returns the
// process exit status: 1 when the run stopped before its request, 0 once the request has run.
int runSession(Session& s, int argc, const char* const* argv);

void printBanner(Session& s);

// The start-up step that gives the tool its name for the syntax help; 1 on success.
int initFramework(Session& s, const char* argv0);

}  // namespace z18
