// Helpers shared by the command tests: one in-process run on an image in a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/mem_env.h"
#include "support/test_support.h"

namespace cmdtest {

using namespace z18test;

struct Result {
    int status = -1;
    std::string body;
    int keyWaits = 0;
};

// One in-process session on the real host, or on `host`; `faults` may arm the FaultEnv before the
// run.
inline Result run(const std::vector<std::string>& args,
                  const std::function<void(z18::FaultEnv&)>& faults = {},
                  z18::Env* host = z18::defaultEnv()) {
    z18test::InProcess p(host);
    if (faults) faults(p.env);
    Result r;
    r.status = p.run(args);
    r.body = z18test::afterBanner(p.output());
    r.keyWaits = p.env.keyWaits();
    return r;
}

// The same on an in-memory host, for the requests that touch nothing but the image.
inline Result run(z18::MemEnv& host, const std::vector<std::string>& args) { return run(args, {}, &host); }

}  // namespace cmdtest
