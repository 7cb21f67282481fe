// z18fsck's work with host files: reading one whole, writing and closing one so that a failure
// is never taken for success, and the line that says why a step failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/session.h"

namespace z18::fsck {

// Why a host call failed, in the host's words.
std::string reasonOf(const HostStatus& failure);
// Closes a file that was written to: the failure of its writes (`written`) where they failed, else
// the close's, since some file systems report a failed write only then.
HostStatus closeWritten(HostFile& file, const HostStatus& written);
// A whole host file of at most `limit` bytes; false, with *why where given, when it cannot be
// read (*why empty when it is only larger).
bool readAll(Session& s, const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
             std::string* why = nullptr);
// "z18fsck: " + text + 'path', with the host's reason where there is one.
std::string failureLine(const char* text, const std::string& path, const std::string& reason);

}  // namespace z18::fsck
