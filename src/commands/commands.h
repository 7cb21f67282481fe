#pragma once

#include "session/session.h"

namespace z18 {

void listCatalogue(Session& s);
void addFiles(Session& s);
void eraseFiles(Session& s);
void extractFiles(Session& s);

// What the host file in hand is opened for: read to be added, or created (or emptied) to take an
// extracted file.
enum class HostFileMode { Add = 0, Extract = 1 };
// Opens the host file in hand. 1 opened, 0 after reporting the failure.
int openHostFile(Session& s, HostFileMode mode);
void closeHostFile(Session& s);

}  // namespace z18
