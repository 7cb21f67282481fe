#include "support/cpmtools.h"

#include <filesystem>

namespace z18test {

void writeDiskdefs(const std::string& dir) {
    std::filesystem::copy_file(Z18_DISKDEFS, dir + "/diskdefs",
                               std::filesystem::copy_options::overwrite_existing);
}

bool haveCpmtools() { return runProgram({"fsck.cpm"}, "/").status != 127; }

ExeResult cpmtool(const std::string& tool, std::vector<std::string> args, const std::string& dir) {
    args.insert(args.begin(), {tool, "-f", "z18"});
    return runProgram(args, dir);
}

}  // namespace z18test
