#include <iostream>

#include "fsck/fsck.h"
#include "host/env.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    z18::Session session(*z18::defaultEnv(), std::cout);
    const int status = z18::fsck::runFsck(session, std::cerr, argc, argv);
    std::cout.flush();
    return status;
}
