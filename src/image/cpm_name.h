#pragma once

#include <string>

#include "session/session.h"

namespace z18 {

// Fills width positions of dest from text (or spaces when text is null), "*" turning the rest of
// the field into "?", and terminates it with a zero byte at dest[width].
void padField(char* dest, const char* text, int width);

// Checks NAME.EXT (or a mask) and, with a destination, converts it into an 11-character pattern.
// Without a destination, wildcards are refused. A rejection changes nothing.
bool parseCpmName(const std::string& text, CpmName* dest);
// The same for a run: 1 accepted, 0 rejected, and with a destination it sets maskHasWildcard.
int makeCpmName(Session& s, CpmName* dest, const std::string& text);

// The name as the catalogue shows it (NAME.TYP, upper case, no dot where the type is blank) of the
// 11 name and type bytes of an entry, attribute bits of the type left out; text takes
// NAME_TEXT_SIZE + 1 bytes.
void displayName(const std::uint8_t* nameType, char* text);
// Fills user, displayName, readOnly and hidden of *info from the 32 bytes of a directory entry.
void describeEntry(const std::uint8_t* entry, EntryInfo* info);
// The same of s.entryInfo, from directory entry index.
void describeEntry(Session& s, int index);

// Whether an entry's name is exactly what z18man stores for a name it accepts: the name it shows
// passes the check without a wildcard and converts back to the same 11 bytes, bit 7 of the type
// bytes (read-only, hidden...) aside.
bool storableName(const std::uint8_t* entry);

// Upper-cases the letters a to z in place; every other byte is left as it is.
void upperCase(char* text);
void upperCase(std::string& text);

}  // namespace z18
