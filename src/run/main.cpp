#include <iostream>

#include "host/env.h"
#include "run/driver.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    z18::Session session(*z18::defaultEnv(), std::cout);
    return z18::runSession(session, argc, argv);
}
