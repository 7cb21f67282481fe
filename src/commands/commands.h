#pragma once

#include "session/session.h"

namespace z18 {

void listCatalogue(Session& s);
void addFiles(Session& s);
void eraseFiles(Session& s);
void extractFiles(Session& s);

constexpr int HOST_OPEN_FOR_ADD = 0;
constexpr int HOST_CREATE_FOR_EXTRACT = 1;
// Opens the host file in hand (mode 1: create it for extraction; otherwise open it for adding).
// 1 opened, 0 after reporting the failure.
int openHostFile(Session& s, int mode);
void closeHostFile(Session& s);

}  // namespace z18
