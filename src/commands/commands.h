#pragma once

#include "session/session.h"

namespace z18 {

void listCatalogue(Session& s);
void addFiles(Session& s);
void eraseFiles(Session& s);
void extractFiles(Session& s);

// The procedure each request of session/requests.h runs; the formats have none (the driver's own
// steps format the image before any command).
using CommandProcedure = void (*)(Session& s);
struct Command {
    OptionFlags option;
    CommandProcedure run;
};
inline constexpr Command COMMANDS[] = {
    {OPT_CATALOGUE, listCatalogue},
    {OPT_ADD, addFiles},
    {OPT_ERASE, eraseFiles},
    {OPT_EXTRACT, extractFiles},
};

// The procedure of a request, or null for a format.
constexpr CommandProcedure commandOf(OptionFlags option) {
    for (const Command& c : COMMANDS)
        if (c.option == option) return c.run;
    return nullptr;
}

// Checked on the option bits alone: a sanitizer build cannot compare function addresses while
// compiling.
constexpr bool everyCommandBound() {
    OptionFlags bound = 0;
    for (const Command& c : COMMANDS) {
        if ((bound & c.option) != 0) return false;
        bound |= c.option;
    }
    return bound == optionsWhere([](const Request& r) { return !r.has(trait::FORMAT); });
}
static_assert(everyCommandBound(), "every request but the formats has one procedure");

// What the host file in hand is opened for: read to be added, or created (or emptied) to take an
// extracted file.
enum class HostFileMode { Add = 0, Extract = 1 };
// Opens the host file in hand. 1 opened, 0 after reporting the failure.
int openHostFile(Session& s, HostFileMode mode);
void closeHostFile(Session& s);

}  // namespace z18
