// z18fsck's work with host files: reading one whole, writing and closing one so that a failure
// is never taken for success, and the line that says why a step failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/session.h"

namespace z18::fsck {

// Why the latest host call failed, in words, or empty where the host gave no reason; and the
// words for a write that moved fewer bytes than asked without an error (the disk is full).
std::string reasonOf(Session& s);
std::string noSpace();
// Writes n bytes at offset in one call; false, with *why, when they are not all on their way.
// *moved, where given, gets the number of bytes that went.
bool writeAll(Session& s, int handle, std::uint64_t at, const std::uint8_t* bytes, std::size_t n,
              std::string* why, std::size_t* moved = nullptr);
// Closes a file that was written to: false, with *why, when the writes had failed already (`ok`
// false, *why set by them) or the close fails, since the file may then not be whole on the disk.
bool closeWritten(Session& s, int handle, bool ok, std::string* why);
// A whole host file of at most `limit` bytes; false, with *why where given, when it cannot be
// read or is larger.
bool readAll(Session& s, const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
             std::string* why = nullptr);
// "z18fsck: " + text + 'path', with the host's reason where there is one.
std::string failureLine(const char* text, const std::string& path, const std::string& reason);

}  // namespace z18::fsck
