// cpmtools as an independent judge of the images z18man writes, and as a second writer of images.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace z18test {

// Writes cpmtools' description of a .z18 image (tests/support/diskdefs, which bench/ uses too) into
// dir as "diskdefs", where cpmtools run in dir find it.
void writeDiskdefs(const std::string& dir);
bool haveCpmtools();
// One of cpmtools' programs with the z18 format, run in dir (which must hold the diskdefs);
// standard error comes with standard output.
ExeResult cpmtool(const std::string& tool, std::vector<std::string> args, const std::string& dir);

}  // namespace z18test
