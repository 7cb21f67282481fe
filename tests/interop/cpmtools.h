// Helpers for the interoperability tests: a scratch directory with the cpmtools diskdef, runs of
// cpmtools and z18man in it, parsers for their listings, and a model of the files an image holds.
#pragma once

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/cpmtools.h"
#include "support/test_support.h"

namespace interop {

using z18test::Bytes;

constexpr int kDataBlocks = 174;  // blocks 1 to 174; block 0 holds the directory
constexpr int kEntries = 64;

using ToolRun = z18test::ExeResult;

// A scratch directory holding the diskdef; every tool runs with it as working directory, so
// images and host paths are given relative to it.
class Workspace {
public:
    Workspace() { z18test::writeDiskdefs(dir_.path()); }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    const std::string& root() const { return dir_.path(); }

    ToolRun z18(const std::vector<std::string>& args) const { return z18test::runExe(args, dir_.path()); }
    // One of cpmtools' programs, with the z18 format.
    ToolRun cpm(const std::string& tool, std::vector<std::string> args) const {
        return z18test::cpmtool(tool, std::move(args), dir_.path());
    }
    void mkdir(const std::string& name) const { ::mkdir((dir_ / name).c_str(), 0777); }

private:
    z18test::TempDir dir_;
};

// Fails the test at once, with the way out, where cpmtools is missing.
inline void requireCpmtools() {
    ASSERT_TRUE(z18test::haveCpmtools()) << "cpmtools is not installed: apt-get install cpmtools";
}

// ---- the model of an image's files ------------------------------------------------------------

struct CpmFile {
    int user = 0;
    std::string name;      // as z18man shows it: upper case, no dot when the type is blank
    std::string hostName;  // the host file it came from (z18man reads them in the host's order)
    Bytes data;
    bool readOnly = false;
    bool hidden = false;

    int records() const { return static_cast<int>((data.size() + 127) / 128); }
    int blocks() const { return static_cast<int>((data.size() + 2047) / 2048); }
    int entries() const { return std::max(1, static_cast<int>((data.size() + 32767) / 32768)); }
    // What comes back out of an image: whole records, the last one filled up with zero bytes.
    Bytes padded() const {
        Bytes b = data;
        b.resize(static_cast<std::size_t>(records()) * 128, 0);
        return b;
    }
};
using Model = std::vector<CpmFile>;

inline int usedBlocks(const Model& m) {
    int n = 0;
    for (const auto& f : m) n += f.blocks();
    return n;
}
inline int usedEntries(const Model& m) {
    int n = 0;
    for (const auto& f : m) n += f.entries();
    return n;
}
inline bool hasName(const Model& m, const std::string& name) {
    return std::any_of(m.begin(), m.end(), [&](const CpmFile& f) { return f.name == name; });
}

inline std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}
inline std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Every character a CP/M 8.3 name may hold, besides the letters in either case.
constexpr const char* kNameChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!\"#$&'+-@^_`{}~";

// A valid 8.3 name of 1 to 8 and 0 to 3 characters, in upper case.
inline std::string randomName(std::mt19937& g) {
    std::string chars = kNameChars;
    // Windows allows '"' in no file name and '+' in no 8.3 name: such a host file gets an 8.3
    // alternate name of the system's making, and the Windows build adds it under that name.
    if (z18test::windowsExe())
        chars.erase(std::remove_if(chars.begin(), chars.end(), [](char c) { return c == '"' || c == '+'; }),
                    chars.end());
    auto pick = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += chars[g() % chars.size()];
        return s;
    };
    std::string name = pick(1 + static_cast<int>(g() % 8));
    const int typeLength = static_cast<int>(g() % 4);
    if (typeLength > 0) name += "." + pick(typeLength);
    return name;
}

// A random name that neither model holds yet; empty in the unlikely case that none turns up.
inline std::string freshName(std::mt19937& g, const Model& a, const Model& b = Model()) {
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = randomName(g);
        if (!hasName(a, name) && !hasName(b, name)) return name;
    }
    return std::string();
}

// The same name with some of its letters in lower case, as a host file might spell it.
inline std::string mixedCase(std::string s, std::mt19937& g) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z' && g() % 2) c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A file size drawn so that every order of magnitude up to the blocks still free turns up.
inline std::size_t randomSize(std::mt19937& g, int freeBlocks) {
    const std::size_t room = static_cast<std::size_t>(std::max(freeBlocks, 0)) * 2048;
    switch (g() % 10) {
        case 0: return 0;
        case 1:
        case 2:
        case 3: return g() % 300;
        case 4:
        case 5: return g() % 20000;
        case 6:
        case 7: return g() % 120000;
        case 8: return room > 0 ? room - g() % std::min<std::size_t>(room, 2048) : 0;  // fills the disk
        default: return 32768 * (1 + g() % 3) + (g() % 3) - 1;  // around an entry boundary
    }
}

// ---- listings --------------------------------------------------------------------------------

struct Row {
    std::string name;
    int records = -1;
    int sizeK = -1;
    bool readOnly = false;
    bool hidden = false;
    bool operator<(const Row& o) const {
        return std::tie(name, records, sizeK, readOnly, hidden) <
               std::tie(o.name, o.records, o.sizeK, o.readOnly, o.hidden);
    }
    bool operator==(const Row& o) const {
        return std::tie(name, records, sizeK, readOnly, hidden) ==
               std::tie(o.name, o.records, o.sizeK, o.readOnly, o.hidden);
    }
};
inline std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.name << " " << r.records << " " << r.sizeK << "K " << (r.readOnly ? 'R' : '-')
              << (r.hidden ? 'H' : '-');
}

struct Catalogue {
    std::vector<Row> rows;  // in the order printed
    int totalK = -1, files = -1, freeK = -1;
};

// Reads the rows and the totals line of a z18man catalogue.
inline Catalogue parseCatalogue(const std::string& out) {
    Catalogue cat;
    const std::string rule = "----------------------------\t----------------------------\n";
    std::size_t at = out.find(rule);
    if (at == std::string::npos) return cat;
    std::istringstream lines(out.substr(at + rule.size()));
    std::string line;
    while (std::getline(lines, line)) {
        // The pause prompt ends in a carriage return; what follows it is the next row.
        const std::size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line.erase(0, cr + 1);
        if (line.empty()) break;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) {
            if (cell.size() != 28) continue;
            Row r;
            r.name = cell.substr(0, 12);
            r.name.erase(r.name.find_last_not_of(' ') + 1);
            r.records = std::stoi(cell.substr(14, 4));
            r.sizeK = std::stoi(cell.substr(19, 4));
            r.readOnly = cell[26] == 'R';
            r.hidden = cell[27] == 'H';
            cat.rows.push_back(r);
        }
    }
    while (std::getline(lines, line)) {
        const char* totals = "%dK in %d file(s), %dK free";
        if (std::sscanf(line.c_str(), totals, &cat.totalK, &cat.files, &cat.freeK) == 3) break;
    }
    return cat;
}

// The rows a catalogue of the model must show, sorted.
inline std::vector<Row> expectedRows(const Model& m) {
    std::vector<Row> rows;
    for (const auto& f : m)
        rows.push_back({f.name, f.records(), (f.records() + 15) / 16 * 2, f.readOnly, f.hidden});
    std::sort(rows.begin(), rows.end());
    return rows;
}

// "user:NAME" for every file cpmls lists (it shows names in lower case under a "user:" line).
inline std::vector<std::string> parseCpmls(const std::string& out) {
    std::vector<std::string> names;
    std::istringstream lines(out);
    std::string line;
    int user = -1;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        if (line.back() == ':' && line.find_first_not_of("0123456789") == line.size() - 1) {
            user = std::stoi(line);
            continue;
        }
        names.push_back(std::to_string(user) + ":" + upper(line));
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> expectedCpmls(const Model& m) {
    std::vector<std::string> names;
    for (const auto& f : m) names.push_back(std::to_string(f.user) + ":" + f.name);
    std::sort(names.begin(), names.end());
    return names;
}

// The free space in K that "cpmls -D" reports on its last line, or -1.
inline int cpmlsFreeK(const std::string& out) {
    const std::size_t at = out.rfind("K Free.");
    if (at == std::string::npos) return -1;
    std::size_t start = at;
    while (start > 0 && out[start - 1] >= '0' && out[start - 1] <= '9') --start;
    return start < at ? std::stoi(out.substr(start, at - start)) : -1;
}

// The directory area of an image file.
inline Bytes directoryOf(const std::string& imagePath) {
    return z18test::directoryOf(z18test::readFile(imagePath));
}

}  // namespace interop
