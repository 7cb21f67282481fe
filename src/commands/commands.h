#pragma once

#include <cstddef>

#include "session/session.h"

namespace z18 {

// The catalogue's rows, each with its file's first entry, and its totals. rows[] stands in
// directory order; order[] lists them as the catalogue does: by name, the files of one name in
// directory order.
struct Catalogue {
    EntryInfo rows[DIRECTORY_ENTRIES];
    int entries[DIRECTORY_ENTRIES];
    int order[DIRECTORY_ENTRIES];
    int count = 0;
    int totalK = 0;
    int freeK = 0;
};
// The files the session's mask matches, as the catalogue lists them.
void gatherCatalogue(Session& s, Catalogue* c);
// The line of totals under the listing, without its line end; returns its length.
std::size_t formatTotals(const Catalogue& c, char* line, std::size_t size);
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
