// The repaired image, written as a new file beside the image, which is never written.
#pragma once

#include "fsck/run.h"

namespace z18::fsck {

// Makes sure the repaired image can be made, before any work: NEW must not exist, and NEW.part
// left by an earlier run that stopped is removed. False with repair->failure set otherwise.
bool prepareRepair(Session& s, const Options& o, Repair* repair);
bool runRepair(Session& s, const Options& o, const Plan& plan, Repair* repair);

}  // namespace z18::fsck
