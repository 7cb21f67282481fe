// The page's entry points. `main` runs one z18man session exactly as the command line does, and
// `z18_fsck` one z18fsck run, except that what they print is kept for the page to read instead of
// going to a terminal. `z18_catalogue` gives the page the catalogue's rows as data, with what the
// listing does not show (the user area, the first entry); `z18_narrow` lets it run a request on
// one file alone, where a name reaches several files (one in each user area) or none (a name
// stored in lower case, which no mask of the tool matches).
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "fsck/fsck.h"
#include "fsck/salvage.h"
#include "host/env.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "run/driver.h"
#include "session/status.h"

namespace {

std::string lastOutput;

// Opens the image at `path` and loads its directory; a failure leaves the tool's own message in
// `out`. Every file is looked at, as a catalogue without a mask does.
bool load(z18::Session& s, const char* path, z18::OptionFlags request) {
    s.options = request;
    s.imageName = path;
    return z18::openImage(s, false) && z18::loadDirectory(s) && z18::makeCpmName(s, &s.maskName, "*.*");
}

// Whether the tool's mask of the name reaches the file that starts at `index`: it does not when
// the directory holds the name in lower case, as the tool shows and matches names in upper case.
bool reachedByName(z18::Session& s, const char* name, int index) {
    z18::CpmName pattern;
    if (!z18::makeCpmName(s, &pattern, name)) return false;
    for (int i = z18::beginSearch(s, pattern); i >= 0; i = z18::nextMatch(s))
        if (i == index) return true;
    return false;
}

// The words the page passes in one buffer of `size` bytes, one after another, each ended by a zero
// byte.
std::vector<std::string> wordsOf(const char* words, int size) {
    std::vector<std::string> list;
    for (int at = 0; at < size; at += static_cast<int>(list.back().size()) + 1) list.emplace_back(words + at);
    return list;
}

}  // namespace

extern "C" {

const char* z18_output() { return lastOutput.data(); }
std::size_t z18_output_size() { return lastOutput.size(); }

// The catalogue of the image as data: its line of totals, then one line per file in the order the
// listing has them, each with its first entry, user area, records, size in K, read-only and
// hidden flags (0 or 1), whether the tool's mask of its name reaches it (0 or 1) and its name as
// the listing shows it, separated by tabs. 1 when the image loaded; else 0, with the tool's
// message as the output.
int z18_catalogue(const char* path) {
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    std::ostringstream list;
    const bool ok = load(s, path, z18::OPT_CATALOGUE);
    if (ok) {
        z18::Catalogue c;
        z18::gatherCatalogue(s, &c);
        char line[64];
        list.write(line, static_cast<std::streamsize>(z18::formatTotals(c, line, sizeof line))) << '\n';
        for (int i = 0; i < c.count; ++i) {
            const int k = c.order[i];
            const z18::EntryInfo& row = c.rows[k];
            const int n = std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\t%d\t%d\t%d\t", c.entries[k],
                                        int{row.user}, row.records, row.sizeK, row.readOnly, row.hidden,
                                        reachedByName(s, row.displayName, c.entries[k]));
            list.write(line, n) << z18::visible(row.displayName) << '\n';
        }
    }
    z18::closeImage(s);
    lastOutput = ok ? list.str() : out.str();
    return ok ? 1 : 0;
}

// Keeps, of the image at `path`, only the entries of the file whose first entry is `index`: every
// other entry is freed and the directory written back. A request then run on it (an extraction of
// every name) touches that file alone. 1 when done; 0 when the image did not load or no file
// starts at that entry, with the tool's message, if any, as the output.
int z18_narrow(const char* path, int index) {
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    // Narrowing erases the other files' entries: the image opens as an erase opens it.
    // A file starts at `index` where the mask of every name reaches it there.
    bool done = load(s, path, z18::OPT_ERASE) && reachedByName(s, "*.*", index);
    if (done) {
        // The file's entries are the ones its own reading goes by: those of its key.
        const z18::FileKey key = z18::keyOf(s, index);
        bool kept[z18::DIRECTORY_ENTRIES] = {};
        for (int i = z18::findExtent(s, key, 0); i >= 0; i = z18::findExtent(s, key, i + 1)) kept[i] = true;
        for (int i = 0; i < z18::DIRECTORY_ENTRIES; ++i)
            if (!kept[i]) s.entryAt(i)[z18::entry::USER] = z18::FILLER_BYTE;
        done = z18::saveDirectory(s) != 0;
    }
    z18::closeImage(s);
    lastOutput = out.str();
    return done ? 1 : 0;
}

// The requests of z18man's command line, so the page need not keep its own list of which ones
// write the image: a JSON array in the output, one object a request in the order of the syntax
// help, such as {"switch":"/a","argument":"path","writes":true,"creates":true,"saves":true}
// ("argument": "none", "name" or "path"; "saves": the directory is written back). Returns how many.
int z18_requests() {
    static const char* const kArgument[] = {"none", "name", "path"};
    const auto flag = [](bool on) { return on ? "true" : "false"; };
    std::ostringstream out;
    out << '[';
    for (const z18::Request& r : z18::REQUESTS) {
        out << (&r == z18::REQUESTS ? "" : ",") << "{\"switch\":\"/" << r.letter << "\",\"argument\":\""
            << kArgument[static_cast<int>(r.argument)]
            << "\",\"writes\":" << flag(r.has(z18::trait::WRITES_IMAGE))
            << ",\"creates\":" << flag(r.has(z18::trait::CREATES_IMAGE))
            << ",\"saves\":" << flag(r.has(z18::trait::SAVES_DIRECTORY)) << '}';
    }
    out << ']';
    lastOutput = out.str();
    return static_cast<int>(std::size(z18::REQUESTS));
}

// The names files handed out together take, as z18fsck's salvage names the files it writes: the
// words are a user area and a name for each file, in order; the names come out one a line, in the
// same order. Returns how many.
int z18_file_names(const char* words, int size) {
    const std::vector<std::string> pairs = wordsOf(words, size);
    std::set<std::string> taken;
    std::ostringstream out;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
        out << z18::fsck::salvageName(pairs[i + 1], std::atoi(pairs[i].c_str()), &taken) << '\n';
    lastOutput = out.str();
    return static_cast<int>(pairs.size() / 2);
}

// A z18fsck command line, its words (without the program's name); returns z18fsck's exit status.
int z18_fsck(const char* words, int size) {
    std::vector<std::string> args = wordsOf(words, size);
    args.insert(args.begin(), "z18fsck");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out;
    z18::Session session(*z18::defaultEnv(), out);
    const int status = z18::fsck::runFsck(session, static_cast<int>(argv.size()), argv.data());
    lastOutput = out.str();
    return status;
}
}

int main(int argc, char** argv) {
    std::ostringstream out;
    z18::Session session(*z18::defaultEnv(), out);
    const int status = z18::runSession(session, argc, argv);
    lastOutput = out.str();
    return status;
}
