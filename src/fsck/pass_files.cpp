// Entries into files, and the name each file has in the repaired image.
#include <algorithm>
#include <cstring>
#include <map>

#include "fsck/passes.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

void group(Context& c) {
    std::map<std::string, int> byKey;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const Entry& e = c.entries[i];
        if (!e.used || e.dropped) continue;
        const std::string key = static_cast<char>(e.area) + maskedName(e.raw);
        auto found = byKey.find(key);
        if (found == byKey.end()) {
            found = byKey.emplace(key, static_cast<int>(c.groups.size())).first;
            c.groups.emplace_back();
            c.groups.back().area = e.area;
        }
        c.groups[found->second].entries.push_back(i);
    }

    const std::size_t original = c.groups.size();
    for (std::size_t g = 0; g < original; ++g) {
        std::vector<int>& list = c.groups[g].entries;
        std::stable_sort(list.begin(), list.end(),
                         [&](int a, int b) { return c.entries[a].extentPair < c.entries[b].extentPair; });
        // CP/M reads each extent from the first entry in the directory that holds it; a second
        // entry for one extent becomes a file of its own, so that both are kept. So does an entry
        // that no file CP/M can address reaches (a garbled s2 byte).
        std::vector<int> kept;
        for (int i : list) {
            const int module = c.entries[i].raw[entry::S2] & ~MODULE_FLAG;
            std::size_t at = 0;
            if (module > MAX_MODULE) {
                at = c.problem(Code::BIG_MODULE, i, module);
            } else if (!kept.empty() && c.entries[kept.back()].extentPair == c.entries[i].extentPair) {
                at = c.problem(Code::SECOND_EXTENT, i, c.entries[i].extentPair,
                               {{Part::OTHER, std::to_string(kept.back())}});
            } else {
                kept.push_back(i);
                continue;
            }
            Group split;
            split.area = c.groups[g].area;
            split.entries.push_back(i);
            split.rename = true;
            split.splitProblem = static_cast<int>(at);
            c.entries[i].sound = false;
            c.entries[i].renumber = true;
            c.groups.push_back(split);
        }
        c.groups[g].entries = kept;
    }
    // A file all of whose entries went off on their own is no file any more.
    c.groups.erase(
        std::remove_if(c.groups.begin(), c.groups.end(), [](const Group& g) { return g.entries.empty(); }),
        c.groups.end());

    for (Group& g : c.groups) {
        for (int i : g.entries) {
            const Entry& e = c.entries[i];
            if (std::memcmp(e.raw, c.entries[g.entries[0]].raw, KEY_SIZE) != 0 && !g.rewriteKey) {
                c.problem(Code::MIXED_KEYS, i);
                g.rewriteKey = true;
            }
            if (!e.nameValid && !g.rename) g.clearBits = e.onlyAttributes;
            if (!e.nameValid) {
                g.rename = true;
                g.clearBits = g.clearBits && e.onlyAttributes;
            }
            if (e.area != e.raw[entry::USER]) g.rewriteKey = true;
        }
    }
}

// Every file keeps its name where it can; the others get a valid name no other file has in any
// user area.
void name(Context& c) {
    std::set<std::string> anywhere;
    for (Group& g : c.groups) {
        if (g.rename) continue;
        const Entry& first = c.entries[g.entries[0]];
        std::string shown = first.displayName;
        upperCase(shown);
        // Names that pass the check are stored in one form, so two files of one user area never
        // show the same name: the key that tells files apart is that name.
        anywhere.insert(shown);
        g.name = shown;
    }
    for (Group& g : c.groups) {
        if (!g.rename) continue;
        const Entry& first = c.entries[g.entries[0]];
        const std::string base = cleanField(first.raw + entry::NAME, NAME_SIZE);
        const std::string type = cleanField(first.raw + entry::TYPE, TYPE_SIZE);
        if (g.clearBits && g.splitProblem < 0) {
            // The name is sound but for bits z18man refuses: it stays, without them.
            std::string bits;
            for (std::size_t k = 0; k < NAME_SIZE; ++k)
                if (first.raw[entry::NAME + k] & ATTRIBUTE_BIT)
                    bits += (bits.empty() ? "F" : ", F") + std::to_string(k + 1);
            g.name = joinName(base, type);
            anywhere.insert(g.name);
            g.rewriteKey = true;
            c.problem(Code::NAME_ATTRIBUTES, g.entries[0], -1, {{Part::BITS, bits}});
            continue;
        }
        const std::string candidate = freeName(base, type, &anywhere);
        g.name = candidate;
        g.rewriteKey = true;
        const int at = g.entries[0];
        if (g.splitProblem >= 0)
            c.plan.problems[static_cast<std::size_t>(g.splitProblem)].parts.emplace_back(Part::NEW_NAME,
                                                                                         candidate);
        else
            c.problem(Code::BAD_NAME, at, -1, {{Part::NEW_NAME, candidate}});
    }
}

}  // namespace

void groupFiles(Context& c) {
    group(c);
    name(c);
}

}  // namespace z18::fsck
