// z18man as the tests and the fuzz targets ask it about an image: one run on a host they give, and
// every file its extract writes of an image, on an in-memory host of its own. Header only, so that
// a fuzz target, which links no test framework, can use it too.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run/driver.h"
#include "support/disk_image.h"
#include "support/mem_env.h"

namespace z18test {

using Files = std::map<std::string, Bytes>;
const std::string IMAGE = "disk.z18";

// One run of z18man on the image "disk" of env; its output in *output where asked.
inline int z18man(z18::Env& env, std::vector<std::string> args, std::string* output = nullptr) {
    std::ostringstream out;
    z18::Session s(env, out);
    args.insert(args.begin(), {"z18man", "disk"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const int status = z18::runSession(s, static_cast<int>(argv.size()), argv.data());
    if (output != nullptr) *output = out.str();
    return status;
}

// z18man's view of an image: every file its extract writes (all user areas in one folder, as it
// writes them), by name, and what its catalogue prints. The status is 0 where both load the image;
// otherwise the output is what the failing run printed, and there are no files.
struct Extracted {
    int status = 1;
    std::string output;
    Files files;
};
inline Extracted extractAll(const Bytes& image) {
    z18::MemEnv env;
    env.putFile(IMAGE, image);
    env.makeDirectory("out");
    Extracted x;
    x.status = z18man(env, {"/x", "out/*.*"}, &x.output);
    if (x.status == 0) x.status = z18man(env, {"/c"}, &x.output);
    for (const auto& node : env.tree()) {
        if (x.status == 0 && node.first.compare(0, 4, "out/") == 0 && !node.second.directory)
            x.files[node.first.substr(4)] = node.second.bytes;
    }
    return x;
}

}  // namespace z18test
