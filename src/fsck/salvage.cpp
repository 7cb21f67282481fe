// Salvage: every file the plan found, written into a folder, with the report beside them. The
// folder is made new, or taken empty, or taken back from an earlier salvage of the same image
// that stopped (a full disk): whatever that left whole stays, what it left cut short goes.
#include "fsck/salvage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "fsck/report.h"
#include "fsck/texts.h"
#include "fsck/work.h"
#include "host/ascii.h"

namespace z18::fsck {

namespace {

// The largest host file an earlier salvage may have left: the largest file CP/M addresses.
constexpr std::uint64_t MAX_SALVAGED = 65536 * RECORD_SIZE;

std::string folded(std::string text) {
    for (char& c : text) c = asciiLower(c);
    return text;
}

bool reservedOnWindows(const std::string& name) {
    std::string base = folded(name.substr(0, name.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* d : kDevices)
        if (base == d) return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// The host name of a salvaged file: its name without attribute bits, with every byte that some
// host cannot hold in a name (control bytes, spaces and < > : " / \ | ? *) turned into "_"; "_"
// in front of a name that Windows keeps for a device or that is empty, "." or ".."; then as
// salvageName makes it.
std::string hostName(const File& f, std::set<std::string>* taken) {
    std::string name = f.hostBase;
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr) c = '_';
    }
    if (name.empty() || name == "." || name == ".." || reservedOnWindows(name)) name = "_" + name;
    return salvageName(name, f.area, taken);
}

const char* folderOf(const File& f) {
    return f.kind == FileKind::ERASED ? texts::ERASED_FOLDER
           : f.kind == FileKind::LOST ? texts::LOST_FOLDER
                                      : "";
}

std::string join(const std::string& dir, const std::string& name) { return dir + "/" + name; }
// A subfolder's name without the "/" its text ends with ("erased/").
std::string withoutSlash(const std::string& folder) { return folder.substr(0, folder.size() - 1); }

// What an earlier salvage of this image left in the folder, if that is all it holds: its report,
// partial files, and files under the names this run gives, each whole (kept) or the start of what
// this run writes (replaced). Anything else keeps the folder from being taken.
class EarlierSalvage {
public:
    EarlierSalvage(Session& s, const Options& o, const Plan& plan, Salvage* salvage)
        : s_(s), o_(o), plan_(plan), salvage_(salvage) {
        for (std::size_t k = 0; k < salvage->hosts.size(); ++k) planned_[salvage->hosts[k]] = k;
    }

    bool take() {
        if (!look(std::string()) || !ours_) return false;
        for (const std::string& gone : replaced_)
            if (!s_.env.removeFile(join(o_.salvageDir, gone)).ok()) return false;
        return true;
    }

private:
    bool look(const std::string& under) {
        const std::string dir = under.empty() ? o_.salvageDir : join(o_.salvageDir, withoutSlash(under));
        const std::vector<FoundEntry> found =
            s_.env.findFiles(join(dir, "*")).valueOr(std::vector<FoundEntry>());
        // A name the listing does not show (one beginning with a dot) is no salvage's.
        const HostResult<int> entries = s_.env.countDirectoryEntries(dir);
        if (!entries.ok() || static_cast<int>(found.size()) != entries.value()) return false;
        for (const FoundEntry& e : found) {
            const std::string name = under + e.name;
            if (isFolder(e)) {
                const std::string folder = name + "/";
                if (!under.empty() || (folder != texts::ERASED_FOLDER && folder != texts::LOST_FOLDER) ||
                    !look(folder))
                    return false;
            } else if (!placed(name)) {
                return false;
            }
        }
        return true;
    }

    bool placed(const std::string& name) {
        std::vector<std::uint8_t> bytes;
        if (name == texts::REPORT_NAME) {
            const std::string mark = texts::CHECKING;
            if (!readAll(s_, join(o_.salvageDir, name), MAX_SALVAGED, &bytes) || bytes.size() < mark.size() ||
                !std::equal(mark.begin(), mark.end(), bytes.begin()))
                return false;
            ours_ = true;
            replaced_.push_back(name);
            return true;
        }
        const std::string partial = texts::PARTIAL_SUFFIX;
        if (name.size() > partial.size() &&
            name.compare(name.size() - partial.size(), partial.size(), partial) == 0 &&
            planned_.count(name.substr(0, name.size() - partial.size())) != 0) {
            ours_ = true;
            replaced_.push_back(name);
            return true;
        }
        const auto k = planned_.find(name);
        if (k == planned_.end() || !readAll(s_, join(o_.salvageDir, name), MAX_SALVAGED, &bytes))
            return false;
        const File& f = plan_.files[k->second];
        const std::uint64_t whole = f.bytes();
        bool same = bytes.size() <= whole;
        forEachRun(plan_, f, [&](std::uint64_t at, const std::uint8_t* from, std::size_t n) {
            const std::size_t have = at >= bytes.size() ? 0 : std::min<std::size_t>(n, bytes.size() - at);
            for (std::size_t i = 0; i < have && same; ++i)
                same = bytes[at + i] == (from != nullptr ? from[i] : 0);
        });
        if (!same) return false;
        if (bytes.size() == whole) {
            salvage_->written[k->second] = Written::KEPT;
            salvage_->bytes[k->second] = whole;
        } else {
            replaced_.push_back(name);  // the start of the file, cut short
        }
        return true;
    }

    Session& s_;
    const Options& o_;
    const Plan& plan_;
    Salvage* salvage_;
    std::map<std::string, std::size_t> planned_;
    std::vector<std::string> replaced_;
    bool ours_ = false;  // its report or a partial file says an earlier salvage made it
};

// Makes a subfolder of the salvage folder, or takes the one an earlier salvage made. A refusal
// gives the cause of the call that met it: the making's, or, where the name was taken, that of
// the look that found no folder there.
HostStatus makeSubfolder(Session& s, const std::string& path) {
    const HostStatus made = s.env.createDirectory(path);
    if (made.ok()) return made;
    const HostStatus look = s.env.countDirectoryEntries(path).status();
    return look.ok() || made.error().kind == HostErrorKind::Exists ? look : made;
}

}  // namespace

std::string salvageName(const std::string& base, int area, std::set<std::string>* taken) {
    const std::string name = area != 0 ? "u" + std::to_string(area) + "-" + base : base;
    std::string candidate = name;
    for (int n = 1; taken->count(folded(candidate)) != 0; ++n) {
        const std::size_t dot = name.rfind('.');
        const std::size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
        candidate = name.substr(0, at) + "~" + std::to_string(n) + name.substr(at);
    }
    taken->insert(folded(candidate));
    return candidate;
}

std::vector<std::string> hostPaths(const Plan& plan) {
    std::set<std::string> taken[3];
    taken[0].insert(folded(texts::REPORT_NAME));
    taken[0].insert(folded(withoutSlash(texts::ERASED_FOLDER)));
    taken[0].insert(folded(withoutSlash(texts::LOST_FOLDER)));
    std::vector<std::string> paths;
    for (const File& f : plan.files)
        paths.push_back(folderOf(f) + hostName(f, &taken[static_cast<int>(f.kind)]));
    return paths;
}

bool prepareSalvage(Session& s, const Options& o, const Plan& plan, Salvage* salvage) {
    salvage->asked = true;
    salvage->hosts = hostPaths(plan);
    salvage->written.assign(plan.files.size(), Written::NONE);
    salvage->bytes.assign(plan.files.size(), 0);
    const HostStatus made = s.env.createDirectory(o.salvageDir);
    if (made.ok()) return true;
    if (made.error().kind != HostErrorKind::Exists) {
        salvage->failure = failureLine(texts::DIR_CANNOT_MAKE, o.salvageDir, reasonOf(made));
        return false;
    }
    const HostResult<int> entries = s.env.countDirectoryEntries(o.salvageDir);
    if (!entries.ok()) {
        salvage->failure = failureLine(texts::DIR_NOT_EMPTY, o.salvageDir, reasonOf(entries.status()));
        return false;
    }
    if (entries.value() == 0) return true;
    if (EarlierSalvage(s, o, plan, salvage).take()) return true;
    salvage->failure = failureLine(texts::DIR_NOT_EMPTY, o.salvageDir, std::string());
    return false;
}

bool runSalvage(Session& s, const Options& o, const Plan& plan, const std::string& check, Salvage* salvage) {
    for (std::size_t k = 0; k < plan.files.size() && salvage->failure.empty(); ++k) {
        if (salvage->written[k] == Written::KEPT) continue;
        const File& f = plan.files[k];
        const char* folder = folderOf(f);
        if (*folder != '\0') {
            const std::string sub = join(o.salvageDir, withoutSlash(folder));
            if (const HostStatus made = makeSubfolder(s, sub); !made.ok()) {
                salvage->failure = failureLine(texts::DIR_CANNOT_MAKE, sub, reasonOf(made));
                break;
            }
        }
        const std::string path = join(o.salvageDir, salvage->hosts[k]);
        HostResult<HostFile> created = HostFile::createNew(s.env, path);
        if (!created.ok()) {
            salvage->failure = failureLine(texts::FILE_CANNOT_WRITE, path, reasonOf(created.status()));
            break;
        }
        static const std::uint8_t kZeros[RUN_PIECE] = {};
        std::uint64_t done = 0;
        HostStatus written;
        forEachRun(plan, f, [&](std::uint64_t at, const std::uint8_t* from, std::size_t n) {
            if (!written.ok()) return;
            std::size_t moved = 0;
            written = created.value().writeExactly(at, from != nullptr ? from : kZeros, n, &moved);
            done += moved;
        });
        salvage->bytes[k] = done;
        const HostStatus closed = closeWritten(created.value(), written);
        if (closed.ok()) {
            salvage->written[k] = Written::WHOLE;
            continue;
        }
        // What was written stays, under a name that says it is not whole; a rerun replaces it.
        salvage->failure = failureLine(texts::FILE_CANNOT_WRITE, path, reasonOf(closed));
        if (s.env.renameNoReplace(path, path + texts::PARTIAL_SUFFIX).ok()) {
            salvage->hosts[k] += texts::PARTIAL_SUFFIX;
            salvage->written[k] = Written::PARTIAL;
        }
    }
    salvage->complete = salvage->failure.empty();

    std::string report = check;
    for (std::size_t k = 0; k < plan.files.size(); ++k) report += fileLine(plan, k, *salvage);
    if (!salvage->complete)
        report += texts::STOPPED + salvage->failure.substr(std::strlen(texts::PROGRAM)) + "\n";
    report += summaryLine(o, plan);
    const std::string path = join(o.salvageDir, texts::REPORT_NAME);
    HostResult<HostFile> created = HostFile::createNew(s.env, path);
    HostStatus outcome = created.status();
    if (created.ok()) {
        std::size_t done = 0;
        outcome = closeWritten(created.value(),
                               created.value().writeExactly(0, report.data(), report.size(), &done));
        if (!outcome.ok()) (void)s.env.removeFile(path);
    }
    salvage->reportWritten = outcome.ok();
    if (!salvage->reportWritten) {
        if (!salvage->failure.empty()) salvage->failure += "\n";
        salvage->failure +=
            failureLine(texts::REPORT_CANNOT_WRITE, path, reasonOf(outcome)) + texts::REPORT_PRINTED;
    }
    return salvage->complete && salvage->reportWritten;
}

}  // namespace z18::fsck
