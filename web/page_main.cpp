// The page's entry point: one run of the tool, exactly as the command line does it, except that
// what it prints is kept for the page to read instead of going to a terminal.
#include <cstddef>
#include <iostream>
#include <sstream>
#include <string>

#include "host/env.h"
#include "run/driver.h"

namespace {
std::string lastOutput;
}

extern "C" {
const char* z18_output() { return lastOutput.data(); }
std::size_t z18_output_size() { return lastOutput.size(); }
}

int main(int argc, char** argv) {
    std::ostringstream out;
    z18::Session session(*z18::defaultEnv(), out);
    const int status = z18::runSession(session, argc, argv);
    lastOutput = out.str();
    return status;
}
