// What z18fsck tells: the check's lines, one line for each salvaged file, the summary, and the
// same as one JSON document for scripts that rescue a shelf of disks.
#include "fsck/report.h"

#include <algorithm>
#include <sstream>

#include "fsck/salvage.h"
#include "fsck/texts.h"
#include "fsck/work.h"
#include "host/ascii.h"
#include "session/status.h"

namespace z18::fsck {

namespace {

// The files of the directory, as the summary counts them.
long liveFiles(const Plan& plan) {
    return static_cast<long>(std::count_if(plan.files.begin(), plan.files.end(),
                                           [](const File& f) { return f.kind == FileKind::LIVE; }));
}

// A JSON string of text that is ASCII already (names and paths go through shown() first).
std::string json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += asciiLower(hexDigit(u >> 4));
            out += asciiLower(hexDigit(u));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonRuns(const std::vector<std::pair<int, int>>& list) {
    std::string out = "[";
    for (const auto& run : list)
        out += (out.size() > 1 ? "," : "") +
               ("[" + std::to_string(run.first) + "," + std::to_string(run.second) + "]");
    return out + "]";
}

const char* kindWord(FileKind kind) {
    return kind == FileKind::ERASED ? texts::JSON_ERASED
           : kind == FileKind::LOST ? texts::JSON_LOST
                                    : texts::JSON_FILE;
}

std::string problemJson(const Problem& p) {
    std::ostringstream out;
    out << "{\"code\":" << json(codeText(p.code)) << ",\"entry\":" << p.entry
        << ",\"lastEntry\":" << std::max(p.entry, p.lastEntry) << ",\"user\":" << p.user
        << ",\"name\":" << json(p.entry >= 0 && p.user >= 0 ? p.name : std::string())
        << ",\"what\":" << json(shown(whatText(p))) << ",\"fix\":" << json(shown(fixText(p))) << "}";
    return out.str();
}

}  // namespace

std::string shown(const std::string& text) {
    std::ostringstream out;
    out << visible(text);
    return out.str();
}

std::string quoted(const std::string& text) { return "'" + shown(text) + "'"; }

std::string reasonOf(const HostStatus& failure) { return errorText(failure.error()); }

HostStatus closeWritten(HostFile& file, const HostStatus& written) {
    const HostStatus closed = file.close();
    return written.ok() ? closed : written;
}

bool readAll(Session& s, const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
             std::string* why) {
    const auto failed = [why](const HostStatus& failure) {
        if (why != nullptr) *why = reasonOf(failure);
        return false;
    };
    HostResult<HostFile> opened = HostFile::open(s.env, path, OpenMode::HostRead);
    if (!opened.ok()) return failed(opened.status());
    const HostResult<std::uint64_t> size = opened.value().size();
    if (!size.ok()) return failed(size.status());
    if (size.value() > limit) return false;
    bytes->assign(static_cast<std::size_t>(size.value()), 0);
    std::size_t done = 0;
    const HostStatus read =
        bytes->empty() ? HostStatus() : opened.value().readExactly(0, bytes->data(), bytes->size(), &done);
    return read.ok() || failed(read);
}

std::string failureLine(const char* text, const std::string& path, const std::string& reason) {
    std::string line = texts::PROGRAM + std::string(text) + quoted(path);
    if (!reason.empty()) line += ": " + shown(reason);
    return line;
}

std::size_t problemCount(const Plan& plan) {
    return static_cast<std::size_t>(std::count_if(plan.problems.begin(), plan.problems.end(),
                                                  [](const Problem& p) { return !p.info(); }));
}

std::string checkText(const Options& o, const Plan& plan) {
    std::string text = texts::CHECKING + quoted(o.image) + "\n";
    for (const Problem& p : plan.problems) text += shown(problemLine(p)) + "\n";
    return text;
}

std::string fileLine(const Plan& plan, std::size_t k, const Salvage& salvage) {
    const File& f = plan.files[k];
    std::ostringstream line;
    if (f.kind == FileKind::ERASED) line << texts::ERASED_LINE;
    line << (f.kind == FileKind::LOST ? f.imageName : quoted(f.imageName)) << texts::ARROW
         << shown(salvage.hosts[k]) << ", ";
    const std::uint64_t whole = f.bytes();
    if (salvage.written[k] == Written::PARTIAL) line << salvage.bytes[k] << texts::OF;
    line << whole << texts::BYTES;
    if (salvage.written[k] == Written::PARTIAL) line << texts::PARTIAL;
    if (salvage.written[k] == Written::NONE) line << texts::NOT_WRITTEN;
    if (!f.damaged.empty()) line << texts::DAMAGED << runsText(f.damaged);
    if (!f.holes.empty()) line << texts::HOLES << runsText(f.holes);
    if (f.kind == FileKind::LOST) {
        line << texts::LOST_LINE;
    } else if (f.troubles.empty()) {
        if (salvage.written[k] != Written::PARTIAL && salvage.written[k] != Written::NONE)
            line << texts::CLEAN;
    } else {
        line << texts::TROUBLES;
        for (std::size_t t = 0; t < f.troubles.size(); ++t) line << (t ? "; " : "") << shown(f.troubles[t]);
    }
    line << '\n';
    return line.str();
}

std::string summaryLine(const Options& o, const Plan& plan) {
    std::ostringstream line;
    line << shown(o.image) << ": " << liveFiles(plan) << texts::SUMMARY_FILES << plan.usedEntries
         << texts::SUMMARY_ENTRIES << plan.usedBlocks << texts::SUMMARY_USED
         << (BLOCK_COUNT - 1 - plan.usedBlocks) << texts::SUMMARY_FREE << problemCount(plan)
         << texts::SUMMARY_PROBLEMS;
    return line.str();
}

std::string jsonReport(const Options& o, const Plan& plan, const Salvage& salvage, const Repair& repair,
                       int status) {
    std::ostringstream out;
    out << "{\"image\":" << json(shown(o.image)) << ",\"size\":" << plan.disk.fileSize
        << ",\"offset\":" << plan.disk.offset << ",\n\"problems\":[";
    const char* sep = "\n";
    for (const Problem& p : plan.problems)
        if (!p.info()) {
            out << sep << problemJson(p);
            sep = ",\n";
        }
    out << "],\n\"information\":[";
    sep = "\n";
    for (const Problem& p : plan.problems)
        if (p.info()) {
            out << sep << problemJson(p);
            sep = ",\n";
        }
    out << "],\n\"files\":[";
    const std::vector<std::string> hosts = salvage.asked ? salvage.hosts : hostPaths(plan);
    for (std::size_t k = 0; k < plan.files.size(); ++k) {
        const File& f = plan.files[k];
        std::string codes;
        for (const std::string& t : f.troubles)
            codes += (codes.empty() ? "" : ",") + json(t.substr(0, t.find(' ')));
        const Written w = salvage.asked ? salvage.written[k] : Written::NONE;
        out << (k ? ",\n" : "\n") << "{\"kind\":" << json(kindWord(f.kind))
            << ",\"name\":" << json(f.imageName) << ",\"user\":" << f.area
            << ",\"host\":" << json(shown(hosts[k])) << ",\"bytes\":" << f.bytes() << ",\"written\":"
            << json(w == Written::WHOLE || w == Written::KEPT ? texts::JSON_WHOLE
                    : w == Written::PARTIAL                   ? texts::JSON_PARTIAL
                                                              : texts::JSON_NOT_WRITTEN)
            << ",\"writtenBytes\":" << (salvage.asked ? salvage.bytes[k] : 0)
            << ",\"repairedName\":" << json(f.newName) << ",\"problems\":[" << codes
            << "],\"damaged\":" << jsonRuns(f.damaged) << ",\"holes\":" << jsonRuns(f.holes) << "}";
    }
    out << "],\n\"salvage\":";
    if (salvage.asked)
        out << "{\"folder\":" << json(shown(o.salvageDir))
            << ",\"complete\":" << (salvage.complete ? "true" : "false")
            << ",\"report\":" << (salvage.reportWritten ? "true" : "false")
            << ",\"failure\":" << json(salvage.failure) << "}";
    else
        out << "null";
    out << ",\n\"repair\":";
    if (repair.asked)
        out << "{\"image\":" << json(shown(o.repairPath))
            << ",\"written\":" << (repair.written ? "true" : "false")
            << ",\"changes\":" << problemCount(plan) + static_cast<std::size_t>(plan.restored)
            << ",\"failure\":" << json(repair.failure) << "}";
    else
        out << "null";
    out << ",\n\"summary\":{\"files\":" << liveFiles(plan) << ",\"entriesUsed\":" << plan.usedEntries
        << ",\"blocksUsed\":" << plan.usedBlocks << ",\"blocksFree\":" << (BLOCK_COUNT - 1 - plan.usedBlocks)
        << ",\"problems\":" << problemCount(plan) << ",\"status\":" << status << "}}\n";
    return out.str();
}

}  // namespace z18::fsck
