// z18mount's command line and the road of a run: the checks of the mount point and the image,
// then the folder served until it is unmounted.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/fuse_serve.h"
#include "session/session.h"

namespace z18 {

struct MountLine {
    std::string image;
    std::string mountPoint;
    std::vector<std::string> options;  // FUSE mount options passed on
    bool readOnly = false;
    bool foreground = false;
    bool debug = false;
    bool help = false;
    bool version = false;
};

// Fills line from argv (argv[0] is the program's name); the text of the first fault, or empty.
std::string parseMountLine(int argc, const char* const* argv, MountLine* line);

// What serves the folder: serveFolder, or a stand-in under test.
using ServeFunction = int (*)(FolderOps& ops, const ServeRequest& request);

// Runs one command line: help and version go to out, refusals to the session's stream. The exit
// status: 0, or 1 after saying why.
int runMount(Session& s, std::ostream& out, int argc, const char* const* argv, FolderOwner owner,
             ServeFunction serve);

}  // namespace z18
