#pragma once

#include <string>

#include "session/session.h"

namespace z18 {

// Fills width positions of dest from text (or spaces when text is null), "*" turning the rest of
// the field into "?", and terminates it with a zero byte at dest[width].
void padField(char* dest, const char* text, int width);

// Checks NAME.EXT (or a mask) and, with a destination, converts it into an 11-character pattern and
// sets maskHasWildcard. Without a destination, wildcards are refused. 1 accepted, 0 rejected;
// a rejection changes nothing.
int makeCpmName(Session& s, CpmName* dest, const std::string& text);

// The name as the catalogue shows it (NAME.TYP, upper case, no dot where the type is blank) of the
// 11 name and type bytes of an entry, attribute bits of the type left out; text takes 13 bytes.
void displayName(const std::uint8_t* nameType, char* text);
// Fills user, displayName, readOnly and hidden of s.entryInfo from directory entry index.
void describeEntry(Session& s, int index);

// Upper-cases the letters a to z in place; every other byte is left as it is.
void upperCase(char* text);
void upperCase(std::string& text);

}  // namespace z18
