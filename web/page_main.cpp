// The page's entry points. `main` runs one z18man session exactly as the command line does, and
// `z18_fsck` one z18fsck run, except that what they print is kept for the page to read instead of
// going to a terminal. The tool's requests take a name, and a name may be held by several user
// areas at once; `z18_files` and `z18_copy` let the page tell those files apart and show or hand
// out each of them, through the tool's own image store and extraction.
#include <cstddef>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "fsck/fsck.h"
#include "host/env.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "run/driver.h"
#include "session/status.h"

namespace {

std::string lastOutput;

// Opens the image at `path` for reading and loads its directory, as a catalogue does; a failure
// leaves the tool's own message in the output.
bool openForReading(z18::Session& s, const char* path) {
    s.options = z18::OPT_CATALOGUE;
    s.imageName = path;
    return z18::openImage(s, false) && z18::loadDirectory(s);
}

// Visits the first entry of every file, in directory order, as the catalogue finds them.
template <typename Visit>
void eachFile(z18::Session& s, Visit visit) {
    z18::CpmName all;
    z18::makeCpmName(s, &all, "*.*");
    for (int index = z18::beginSearch(s, all); index >= 0; index = z18::nextMatch(s)) visit(index);
}

}  // namespace

extern "C" {

const char* z18_output() { return lastOutput.data(); }
std::size_t z18_output_size() { return lastOutput.size(); }

// One line per file, in directory order: its first entry, its user area and its name as the
// catalogue shows it, separated by tabs. 1 when the image loaded.
int z18_files(const char* path) {
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    std::ostringstream list;
    const bool ok = openForReading(s, path);
    if (ok) {
        eachFile(s, [&](int index) {
            z18::describeEntry(s, index);
            list << index << '\t' << int{s.entryInfo.user} << '\t' << z18::visible(s.entryInfo.displayName)
                 << '\n';
        });
    }
    z18::closeImage(s);
    lastOutput = ok ? list.str() : out.str();
    return ok ? 1 : 0;
}

// Extracts the one file whose first entry is `index` into the folder `into`, under its own name.
// The directory in memory keeps only that file's user area (nothing is written back: the image is
// open for reading), so the tool's own extraction by name finds that file alone. 1 when the
// extraction ran, with its lines in the output; 0 when the image did not load (its message in the
// output) or no file starts at that entry.
int z18_copy(const char* path, int index, const char* into) {
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    bool found = false;
    if (openForReading(s, path)) eachFile(s, [&](int i) { found = found || i == index; });
    if (found) {
        z18::describeEntry(s, index);
        // Bit 7 of the user byte does not tell files apart, as the file's own entries are matched.
        const int area = s.entryInfo.user & z18::NO_BIT_7;
        for (int i = 0; i < z18::DIRECTORY_ENTRIES; ++i)
            if ((s.entryAt(i)[z18::entry::USER] & z18::NO_BIT_7) != area)
                s.entryAt(i)[z18::entry::USER] = z18::FILLER_BYTE;
        s.options = z18::OPT_EXTRACT;
        s.hostDir = into;
        s.mask = s.entryInfo.displayName;
        found = z18::makeCpmName(s, &s.maskName, s.mask);
        if (found) z18::extractFiles(s);
    }
    z18::closeHostFile(s);
    z18::closeImage(s);
    lastOutput = out.str();
    return found ? 1 : 0;
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

// A z18fsck command line, its words (without the program's name) one after another, each ended by
// a zero byte; returns z18fsck's exit status.
int z18_fsck(const char* words, int size) {
    std::vector<std::string> args = {"z18fsck"};
    for (int at = 0; at < size;) {
        args.emplace_back(words + at);
        at += static_cast<int>(args.back().size()) + 1;
    }
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
