// The host layer's own words for a failure, where the system gave no number of its own (a rule
// of this layer refused the call, or a test host failed it). Worded as the C library words them.
#pragma once

namespace z18::texts {

// Indexed by HostErrorKind.
constexpr const char* HOST_ERROR_TEXTS[] = {
    "Success",
    "No such file or directory",
    "File exists",
    "Not a regular file",
    "Not a directory",
    "Permission denied",
    "In use by another process",
    "No space left on device",
    "Input/output error",
    "Unknown error",
};

}  // namespace z18::texts
