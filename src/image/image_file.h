#pragma once

#include "session/session.h"

namespace z18 {

// Opens the image named by the session (creating and filling a new one when allowed) and checks its
// size. 1 open, 0 after reporting the failure.
int openImage(Session& s, bool creationAllowed);
// Writes the boot area and the signature record. 1 done, 0 after reporting the failure.
int writeBootArea(Session& s);
// Overwrites the directory with the filler byte. 1 done, 0 after reporting the failure.
int clearDirectory(Session& s);
void closeImage(Session& s);

// Positions the image and writes n bytes of the transfer buffer, reporting a failed or short
// write as an image write error. 1 done, 0 failed.
int writeImageAt(Session& s, std::uint64_t offset, std::size_t n);
// Positions the image and reads n bytes into the transfer buffer (or dest). 1 done, 0 failed;
// reports nothing.
int readImageAt(Session& s, std::uint64_t offset, void* dest, std::size_t n);

// The bytes every boot area and signature record holds.
const std::uint8_t* bootAreaBytes();  // BOOT_AREA_SIZE bytes
extern const char SIGNATURE_TEXT[];

}  // namespace z18
