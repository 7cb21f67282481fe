#pragma once

#include <string>

#include "session/session.h"

namespace z18 {

// Takes the image's folder and file name from the text that names it ("dir/name" or "dir\name"),
// appending ".z18" to a file name that does not end in it.
void nameImage(Session& s, const std::string& text);
// Opens the image named by the session (creating and filling a new one when allowed) and checks its
// size. 1 open, 0 after reporting the failure.
int openImage(Session& s, bool creationAllowed);
// Writes the boot area and the signature record. 1 done, 0 after reporting the failure.
int writeBootArea(Session& s);
// Overwrites the directory with the filler byte. 1 done, 0 after reporting the failure.
int clearDirectory(Session& s);
void closeImage(Session& s);

// Move exactly n bytes between memory and the file behind handle at offset, in one host call,
// and set transferCount. A failed or short transfer is reported with `failure` and gives 0.
int readFileAt(Session& s, int handle, std::uint64_t offset, void* dest, std::size_t n, StatusCode failure);
int writeFileAt(Session& s, int handle, std::uint64_t offset, const void* src, std::size_t n,
                StatusCode failure);
// The same on the image, failing as an image read or write error. 1 done, 0 after the report;
// after a failed flush a write gives 0 at once.
int readImageAt(Session& s, std::uint64_t offset, void* dest, std::size_t n);
int writeImageAt(Session& s, std::uint64_t offset, const void* src, std::size_t n);
// Writes the transfer buffer into data block `block` of a file being added. When this run has
// cleared a directory that named blocks, that directory reaches the disk first: otherwise a power
// cut could leave the old names over the new bytes. 1 done, 0 after the report.
int writeFileBlock(Session& s, std::uint8_t block);
// Makes every image write so far reach the disk before any later one. Does nothing when nothing
// is pending; a failure is reported as a failed image write, once: after it every later flush
// and write gives 0 at once, so the directory is not written back. 1 done, 0 failed.
int flushImage(Session& s);

// The bytes every boot area and signature record holds.
const std::uint8_t* bootAreaBytes();  // BOOT_AREA_SIZE bytes
extern const char SIGNATURE_TEXT[];

}  // namespace z18
