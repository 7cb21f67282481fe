#include <iostream>

#include "host/env.h"
#include "host/fuse_serve.h"
#include "mount/mount.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    z18::Session session(*z18::defaultEnv(), std::cerr);
    return z18::runMount(session, std::cout, argc, argv, z18::processOwner(), z18::serveFolder);
}
