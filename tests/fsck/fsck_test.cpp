// z18fsck as a rescuer meets it: images damaged from a known-good one, or in layouts CP/M itself
// leaves, one damage or feature per row. Each row holds the check to its problem codes and exit
// status, salvage to every file it writes and the bytes of each, and the repair to what a rescuer
// counts on: every record salvage found intact stays at its place, the image loads in z18man,
// passes fsck.cpm and checks clean. The input image never changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "fsck/fsck.h"
#include "session/status.h"
#include "support/cpmtools.h"
#include "support/fsck_records.h"
#include "support/mem_env.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

using Args = std::vector<std::string>;
using Salvaged = std::map<std::string, Bytes>;

// z18fsck as users run it: the program of the build under test (the Windows one under Wine).
int fsck(const Args& args, std::string* out) {
    const ExeResult r = runFsckExe(args, std::string());
    *out = r.out;
    return r.status;
}

void setEntry(Bytes& image, int index, std::size_t at, const std::vector<int>& bytes) {
    for (int b : bytes) entryIn(image, index)[at++] = static_cast<std::uint8_t>(b);
}

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every file under dir but the report, by its path there, with its bytes.
Salvaged filesUnder(const std::string& dir) {
    Salvaged found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string path = std::filesystem::relative(e.path(), dir).string();
        if (e.is_regular_file() && path != "z18fsck-report.txt") found[path] = readFile(e.path().string());
    }
    return found;
}

// What differs between the files found and those wanted, which may leave out files that the
// damage itself made (`others`): empty when nothing does.
std::string differences(const Salvaged& got, const Salvaged& want, bool others) {
    std::string out;
    for (const auto& w : want) {
        const auto g = got.find(w.first);
        if (g == got.end() || g->second != w.second)
            out += (g == got.end() ? "missing " : "other bytes in ") + w.first + "\n";
    }
    for (const auto& g : got)
        if (want.count(g.first) == 0 && !others) out += "unwanted " + g.first + "\n";
    return out;
}

// Of the --json fields that jsonFields gives, "A B" for each item of `list` (problems, files...)
// with its fields a and b.
std::multiset<std::string> fieldPairs(const std::string& fields, const std::string& list,
                                      const std::string& a, const std::string& b) {
    std::map<std::string, std::string> first;
    std::multiset<std::string> found;
    std::istringstream lines(fields);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t dot = line.find('.', list.size() + 1), is = line.find('=');
        if (line.rfind(list + ".", 0) != 0 || dot > is) continue;
        const std::string item = line.substr(0, dot), field = line.substr(dot + 1, is - dot - 1);
        if (field == a) first[item] = line.substr(is + 1);
        if (field == b) found.insert(first[item] + " " + line.substr(is + 1));
    }
    return found;
}

// The problem lines of a check, each as its code and first entry ("P403 1", "P101 -1").
std::multiset<std::string> problemsOf(const std::string& check) {
    std::multiset<std::string> found;
    std::istringstream lines(check);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 5 && (line[0] == 'P' || line[0] == 'I') && std::isdigit(line[1]))
            found.insert(line.substr(0, 5) +
                         (line.compare(5, 5, "image") == 0
                              ? "-1"
                              : std::to_string(std::stoi(line.substr(line.find(' ', 5))))));
    return found;
}

// A row's image as its damage leaves it, and what the damage adds to the arguments of every run
// (-b); a file it needs goes into dir, beside the image.
struct Damaged {
    Bytes image;
    const TempDir& dir;
    Args all;
    std::string map;  // the text of the bad-sector map that -b names
};
using Damage = std::function<void(Damaged&)>;

// Damage that writes these bytes into entry `index` from `at` on.
Damage poke(int index, std::size_t at, std::vector<int> bytes) {
    return [=](Damaged& x) { setEntry(x.image, index, at, bytes); };
}

// Damage that changes every byte of directory sectors `first` on, `count` of them, to the
// repeated pattern.
Damage fillSectors(int first, int count, const std::string& pattern) {
    return [=](Damaged& x) {
        for (std::size_t k = 0; k < z18::SECTOR_SIZE * static_cast<std::size_t>(count); ++k)
            x.image[z18::DIRECTORY_OFFSET + static_cast<std::size_t>(first) * z18::SECTOR_SIZE + k] =
                static_cast<std::uint8_t>(pattern[k % pattern.size()]);
    };
}

// No damage to the image, but a bad-sector map `name` holding text, which every run is given.
Damage badSectors(const std::string& name, const std::string& text) {
    return [=](Damaged& x) {
        writeFile(x.dir / name, text);
        x.all = {"-b", x.dir / name};
        x.map = text;
    };
}

const std::string kMade = "made by cpmtools\n";

// The bytes salvage must give: the files put in, whole records; with zeros where a hole or the
// damage is; blocks of the good image.
struct Known {
    Salvaged files;
    Bytes image;
    Bytes of(const std::string& name) const { return padded(files.at(name)); }
    Bytes zeroed(const std::string& name, std::size_t from, std::size_t to) const {
        Bytes b = of(name);
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to),
                  0);
        return b;
    }
    // base, with file `name` zeroed from `from` to `to`, where its entry no longer names its
    // block `lost`, and that block in lost+found.
    Salvaged holed(Salvaged base, const std::string& name, std::size_t from, std::size_t to, int lost) const {
        char found[32];
        std::snprintf(found, sizeof found, "lost+found/block-%03d", lost);
        base[name] = zeroed(name, from, to);
        base[found] = blocksData(image, lost, 1);
        return base;
    }
};

// base with these files put in or replaced.
Salvaged with(Salvaged base, const Salvaged& files) {
    for (const auto& f : files) base[f.first] = f.second;
    return base;
}
Salvaged without(Salvaged base, const std::string& path) {
    base.erase(path);
    return base;
}

// A damage or feature, and what z18fsck does with it: what the check says, what salvage writes
// and, where it differs, what the repair adds.
struct Row {
    Row(const char* name, Damage damage) : name(name), damage(std::move(damage)) {}
    // The check's exit status, and the lines it holds: a code and its subject on each.
    Row& check(int exit, std::vector<const char*> lines) {
        status = exit;
        codes = std::move(lines);
        return *this;
    }
    Row& salvage(Salvaged files) {
        salvaged = std::move(files);
        return *this;
    }
    // The salvage of NEW, where the repair changed what salvage finds.
    Row& repairGives(Salvaged files) {
        repaired = std::move(files);
        return *this;
    }
    // A repair given these words (-u): the lines only it prints, what it brings back, and the
    // salvage of NEW.
    Row& undelete(Args words, std::vector<const char*> lines, Salvaged files) {
        repairArgs = std::move(words);
        repairCodes = std::move(lines);
        return repairGives(std::move(files));
    }
    // The damage makes files of noise, whose bytes no row can know.
    Row& noise() {
        others = true;
        return *this;
    }

    const char* name;
    Damage damage;
    int status = 0;
    std::vector<const char*> codes, repairCodes;
    Args repairArgs;
    std::optional<Salvaged> salvaged;  // where not given, the three files whole
    std::optional<Salvaged> repaired;
    bool others = false;
};

// Bytes from..to of data, to its end where no `to` is given.
Bytes slice(const Bytes& data, std::size_t from, std::size_t to = SIZE_MAX) {
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(std::min(to, data.size())));
}

// A block of data with its first n bytes of every 64 flipped in bit 0.
Bytes flipped(Bytes block, int n) {
    for (int k = 0; k < n; ++k) block[static_cast<std::size_t>(k) * 64] ^= 1;
    return block;
}

}  // namespace

TEST(Fsck, EachDamageAndFeatureAsARescuerCountsOnIt) {
    Z18_SKIP_FOR_NODE_EXE("z18fsck has no Node build");
    ASSERT_TRUE(haveCpmtools()) << "cpmtools is not installed";
    // A.TXT in block 1, B.BIN in blocks 2-4, C.DAT in two entries (blocks 5-20 and 21-24).
    Known k;
    k.files = {
        {"A.TXT", randomBytes(100, 1)}, {"B.BIN", randomBytes(5000, 2)}, {"C.DAT", randomBytes(40000, 3)}};
    TempDir base;
    for (const auto& f : k.files) writeFile(base / f.first, f.second);
    InProcess add;
    ASSERT_EQ(add.run({base / "base", "/a", base / "*.*"}), 0) << add.output();
    k.image = readFile(base / "base.z18");
    const Salvaged all3 = {{"A.TXT", k.of("A.TXT")}, {"B.BIN", k.of("B.BIN")}, {"C.DAT", k.of("C.DAT")}};
    Bytes entryCopies;  // 512 bytes: B.BIN's entry 16 times
    for (int n = 0; n < 16; ++n) {
        const Bytes e = entryBytes(k.image, 1);
        entryCopies.insert(entryCopies.end(), e.begin(), e.end());
    }
    const auto cpmcp = [](Damaged& x, const std::string& name, const std::string& to) {
        writeFile(x.dir / "disk.z18", x.image);
        writeFile(x.dir / name, kMade);
        writeDiskdefs(x.dir.path());
        ASSERT_EQ(cpmtool("cpmcp", {"disk.z18", name, to}, x.dir.path()).status, 0);
        x.image = readFile(x.dir / "disk.z18");
    };
    // A.TXT's entry names block 2, in which B.BIN's run goes on: the data is B.BIN's, A.TXT gets
    // zeros there, and its own block 1 goes to lost+found.
    const Salvaged aLostBlock = k.holed(all3, "A.TXT", 0, z18::RECORD_SIZE, 1);
    const Bytes made = padded(Bytes(kMade.begin(), kMade.end()));
    const std::vector<Row> rows = {
        Row("clean", [](Damaged&) {}).check(0, {}),
        // Names other tools write and z18man refuses: kept for salvage, made valid by the repair.
        Row("cpmtools names",
            [&](Damaged& x) {
                cpmcp(x, "od(1).bin", "0:od(1).bin");
                cpmcp(x, "sp ace.txt", "3:sp ace.txt");
            })
            .check(1, {"P304 entry 4 user 0 'OD(1).BIN'", "P304 entry 5 user 3 'SP ACE.TXT'"})
            .salvage(with(all3, {{"OD(1).BIN", made}, {"u3-SP_ACE.TXT", made}}))
            .repairGives(with(all3, {{"OD_1_.BIN", made}, {"u3-SP_ACE.TXT", made}})),
        Row("attribute bit in the name", [](Damaged& x) { entryIn(x.image, 0)[z18::entry::NAME] |= 0x80; })
            .check(1, {"P305 entry 0 user 0 '\\xC1.TXT'"}),
        Row("user byte 20", poke(0, 0, {20}))
            .check(1, {"P301 entry 0 user 20 'A.TXT'"})
            .salvage(with(without(all3, "A.TXT"), {{"u4-A.TXT", k.of("A.TXT")}})),
        Row("no file", poke(0, 0, {0x40, 0x01}))
            .check(1, {"P303 entry 0 user 64 '\\x01.TXT'"})
            .salvage(with(without(all3, "A.TXT"), {{"_.TXT", k.of("A.TXT")}}))
            .repairGives(with(without(all3, "A.TXT"), {{"lost+found/block-001", blocksData(k.image, 1, 1)}})),
        // A lost block keeps its place: zeros in salvage and in the repair, nothing moved.
        Row("block past the disk", poke(1, z18::entry::BLOCKS + 1, {200}))
            .check(1, {"P402 entry 1 user 0 'B.BIN'", "I705 image"})
            .salvage(k.holed(all3, "B.BIN", 2048, 4096, 3)),
        Row("block of another file", poke(0, z18::entry::BLOCKS, {2}))
            .check(1, {"P403 entry 0 user 0 'A.TXT'", "I705 image"})
            .salvage(aLostBlock),
        // B.BIN's last slot names A.TXT's block, and so does the first slot of C.DAT's second
        // entry; block 4, which would go on with B.BIN's run, and block 21, with which C.DAT's would
        // go on to 22, hold data no entry names: the block stays A.TXT's, whatever the order.
        Row("block that breaks a run",
            [](Damaged& x) {
                setEntry(x.image, 1, z18::entry::BLOCKS + 2, {1});
                setEntry(x.image, 3, z18::entry::BLOCKS, {1});
            })
            .check(1, {"P403 entry 1 user 0 'B.BIN'", "P403 entry 3 user 0 'C.DAT'", "I705 image"})
            .salvage(k.holed(k.holed(all3, "B.BIN", 4096, 5120, 4), "C.DAT", 32768, 34816, 21)),
        // Nothing tells two claims apart (a name only z18man refuses is no damage): both files keep
        // the data and both are told; the repair gives the second a copy.
        Row("block two sound entries name",
            [](Damaged& x) { putEntry(x.image, 4, 0, "A|B     BIN", 0, 1, {1}); })
            .check(1, {"P407 entry 0 user 0 'A.TXT'", "P304 entry 4 user 0 'A|B.BIN'",
                       "P408 entry 4 user 0 'A|B.BIN'"})
            .salvage(with(all3, {{"A_B.BIN", k.of("A.TXT")}})),
        // D.TXT's second slot seems to go on with its run into E.TXT's block, but ends one record
        // in, before E.TXT's data: that leaves nothing to tell them apart. E.TXT, which reads
        // more of the block, keeps it; D.TXT's copy holds its one record.
        Row("claim that ends before another's data",
            [](Damaged& x) {
                for (int b : {100, 101, 102}) putBlock(x.image, b, randomBytes(b == 101 ? 1024 : 2048, b));
                putEntry(x.image, 4, 0, "D       TXT", 0, 17, {100, 101});
                putEntry(x.image, 5, 0, "E       TXT", 0, 8, {101});
            })
            .check(1, {"P408 entry 4 user 0 'D.TXT'", "P407 entry 5 user 0 'E.TXT'", "I705 image"})
            .salvage(
                with(all3, {{"D.TXT", concat(randomBytes(2048, 100), slice(randomBytes(1024, 101), 0, 128))},
                            {"E.TXT", randomBytes(1024, 101)},
                            {"lost+found/block-102", randomBytes(2048, 102)}})),
        // Records past a lowered record count are old data: lost+found keeps them, the file ends
        // at its count.
        Row("records past the record count", poke(1, z18::entry::RECORD_COUNT, {33}))
            .check(0, {"I708 entry 1 user 0 'B.BIN'"})
            .salvage(
                with(all3, {{"B.BIN", slice(k.of("B.BIN"), 0, 33 * 128)},
                            {"lost+found/block-004-records-1-15", slice(blocksData(k.image, 4, 1), 128)}})),
        // Filler with 16 other bytes is bit flips in free space; with 17 it may be data.
        Row("bit flips in free space",
            [](Damaged& x) {
                putBlock(x.image, 100, flipped(blockBytes(x.image, 100), 16));
                putBlock(x.image, 101, flipped(blockBytes(x.image, 101), 17));
            })
            .check(0, {"I705 image: data that no file names, in block 101;"})
            .salvage(with(all3, {{"lost+found/block-101", flipped(blockBytes(k.image, 101), 17)}})),
        Row("stray block past the record count", poke(1, z18::entry::BLOCKS + 3, {5}))
            .check(1, {"P405 entry 1 user 0 'B.BIN'"}),
        Row("record count past the blocks", poke(1, z18::entry::RECORD_COUNT, {100}))
            .check(1, {"P504 entry 1 user 0 'B.BIN'"})
            .salvage(with(all3, {{"B.BIN", blocksData(k.image, 2, 3)}})),
        Row("extent there twice",
            [](Damaged& x) { std::memcpy(entryIn(x.image, 9), entryIn(x.image, 1), 32); })
            .check(1, {"P506 entry 9 user 0 'B.BIN'"})
            .salvage(with(all3, {{"B~1.BIN", Bytes(5120, 0)}})),
        // Layouts CP/M leaves are sound, and every record comes out at its place.
        Row("entries out of order",
            [](Damaged& x) {
                const Bytes second = entryBytes(x.image, 3);
                std::memcpy(entryIn(x.image, 3), entryIn(x.image, 2), 32);
                std::memcpy(entryIn(x.image, 2), second.data(), 32);
            })
            .check(0, {}),
        Row("empty block slot", poke(2, z18::entry::BLOCKS + 3, {0}))
            .check(0, {"I701 entry 2 user 0 'C.DAT'"})
            .salvage(k.holed(all3, "C.DAT", 6144, 8192, 8)),
        // The first extent erased: a hole in the file, the erased extent saved on its own, and
        // put back into the file by -u.
        Row("extent missing", poke(2, 0, {0xE5}))
            .check(0, {"I701 entry 3 user 0 'C.DAT'", "I706 entry 2 erased 'C.DAT'"})
            .salvage(with(all3, {{"C.DAT", k.zeroed("C.DAT", 0, 32768)},
                                 {"erased/C.DAT", slice(k.of("C.DAT"), 0, 32768)}}))
            .undelete({"-u"}, {"I707 entry 2 erased 'C.DAT'"}, all3),
        // Undelete: a file erased by z18man comes back whole; one whose block a later file took
        // is lost, and its other blocks go to lost+found.
        Row("erased file brought back",
            [](Damaged& x) {
                setEntry(x.image, 1, 0, {0xE5});
                setEntry(x.image, 1, z18::entry::S1, {200});  // which CP/M never writes: 0 when it comes back
            })
            .check(0, {"I702 entry 1 erased 'B.BIN'"})
            .salvage(with(without(all3, "B.BIN"), {{"erased/B.BIN", k.of("B.BIN")}}))
            .undelete({"-u", "B.*"}, {"I704 entry 1 erased 'B.BIN'"}, all3),
        Row("erased empty file beside a live one of its name",
            [](Damaged& x) { putEntry(x.image, 4, 0xE5, "A       TXT", 0, 0, {}); })
            .check(0, {"I702 entry 4 erased 'A.TXT'"})
            .salvage(with(all3, {{"erased/A.TXT", {}}}))
            .undelete({"-u"},
                      {"I704 entry 4 erased 'A.TXT': an erased file of 0 bytes; brought back as A~1.TXT"},
                      with(all3, {{"A~1.TXT", {}}})),
        Row("erased file whose block was taken",
            [](Damaged& x) {
                setEntry(x.image, 1, 0, {0xE5});
                setEntry(x.image, 0, z18::entry::BLOCKS, {3});
            })
            .check(0, {"I703 entry 1 erased 'B.BIN'"})
            .salvage(with(
                without(all3, "B.BIN"),
                {{"A.TXT", slice(blocksData(k.image, 3, 1), 0, z18::RECORD_SIZE)},
                 {"lost+found/blocks-001-002", blocksData(k.image, 1, 2)},
                 {"lost+found/block-004", blocksData(k.image, 4, 1)},
                 {"lost+found/block-003-records-1-15", slice(blocksData(k.image, 3, 1), z18::RECORD_SIZE)}})),
        // A lost directory sector is one problem, and no file is made of its bytes.
        Row("fill pattern in a directory sector", fillSectors(1, 1, "BADSECTOR!"))
            .check(1, {"P202 entries 16-31: "}),
        Row("free entries of 0xE5 and zeros", fillSectors(1, 1, std::string("\xE5") + std::string(31, '\0')))
            .check(0, {}),
        Row("sector of 0xF6", fillSectors(2, 1, "\xF6")).check(1, {"P202 entries 32-47: "}),
        Row("zeroed directory", fillSectors(0, 4, std::string(1, '\0')))
            .check(1, {"P202 entries 0-63: ", "I705 image"})
            .salvage({{"lost+found/blocks-001-024", blocksData(k.image, 1, 24)}}),
        Row("garbled sector",
            [](Damaged& x) {
                const Bytes noise = randomBytes(384, 7);
                std::copy(noise.begin(), noise.end(), x.image.begin() + z18::DIRECTORY_OFFSET + 128);
            })
            .check(1, {"P301 entry 4 user 19 "})
            .noise(),
        // The image file as dumps leave it.
        Row("cut off inside a sector", [](Damaged& x) { x.image.resize(z18::blockOffset(8) + 300); })
            .check(1, {"P101 image", "P601 entry 2 user 0 'C.DAT'"})
            .salvage(with(all3, {{"C.DAT", k.zeroed("C.DAT", 3 * 2048 + 300, 32768 + 7296)}})),
        // Whatever its length: on a dump cut to a disk's length, and on one cut far shorter.
        Row("header before a cut dump",
            [](Damaged& x) {
                x.image.insert(x.image.begin(), 256, 0x4D);
                x.image.resize(z18::IMAGE_SIZE);
            })
            .check(1, {"P103 image", "P101 image"}),
        Row("512-byte header before a dump cut short",
            [](Damaged& x) {
                x.image.insert(x.image.begin(), 512, 0);
                x.image.resize(300000);
            })
            .check(1, {"P103 image", "P101 image"}),
        Row("header before the disk", [](Damaged& x) { x.image.insert(x.image.begin(), 256, 0x4D); })
            .check(1, {"P103 image"}),
        // A disk's length, no boot area or signature, and a file whose first block holds 16 copies of a
        // directory entry: read 512 bytes on, the directory would look better, but nothing marks a header.
        Row("entries in a file of a disk without marks",
            [&](Damaged& x) {
                std::fill(x.image.begin(), x.image.begin() + z18::BOOT_AREA_SIZE, z18::FILLER_BYTE);
                std::fill(x.image.begin() + z18::SIGNATURE_OFFSET, x.image.end(), z18::FILLER_BYTE);
                setEntry(x.image, 0, z18::entry::RECORD_COUNT, {4});
                std::copy(entryCopies.begin(), entryCopies.end(), x.image.begin() + z18::blockOffset(1));
            })
            .check(0, {})
            .salvage(with(all3, {{"A.TXT", entryCopies}})),
        // The first sector of each of C.DAT's blocks 6-9 was never read whole, each in a status of
        // its own: not tried, not trimmed, not scraped, bad.
        Row("ddrescue map",
            badSectors("disk.map",
                       "# Mapfile. Created by GNU ddrescue version 1.27\n0x0 +\n0x0 0x5400 +\n"
                       "0x5400 0x200 ?\n0x5600 0x600 +\n0x5C00 0x200 *\n0x5E00 0x600 +\n"
                       "0x6400 0x200 /\n0x6600 0x600 +\n0x6C00 0x200 -\n0x6E00 0x100000 +\n"))
            .check(1, {"P601 entry 2 user 0 'C.DAT': records 16-19 ",
                       "P601 entry 2 user 0 'C.DAT': records 32-35 ",
                       "P601 entry 2 user 0 'C.DAT': records 48-51 ",
                       "P601 entry 2 user 0 'C.DAT': records 64-67 "})
            .salvage([&] {
                Bytes c = k.of("C.DAT");
                for (std::size_t at = 2048; at < 10240; at += 2048) std::fill_n(c.begin() + at, 512, 0);
                return with(all3, {{"C.DAT", c}});
            }()),
        Row("list of bad sectors", badSectors("bad.txt", "# sectors\n22\n"))
            .check(1, {"P601 entry 0 user 0 'A.TXT': record 0 "})
            .salvage(with(all3, {{"A.TXT", Bytes(z18::RECORD_SIZE, 0)}})),
        // The rest of what the check knows, so that each of its codes shows in some row.
        Row("bytes past the disk", [](Damaged& x) { x.image.resize(z18::IMAGE_SIZE + 1000, 0x1A); })
            .check(1, {"P102 image"}),
        Row("directory sector unreadable", badSectors("bad.txt", "19\n")).check(1, {"P201 entries 16-31: "}),
        Row("entries that hold nothing",
            [](Damaged& x) {
                std::memset(entryIn(x.image, 4), 0, z18::ENTRY_SIZE);
                putEntry(x.image, 5, 20, "D       TXT", 0, 0, {});
            })
            .check(1, {"P203 entry 4 user 0 ", "P302 entry 5 user 20 'D.TXT'"}),
        Row("block named twice by one entry", poke(1, z18::entry::BLOCKS + 2, {2}))
            .check(1, {"P404 entry 1 user 0 'B.BIN'", "I705 image"})
            .salvage(k.holed(all3, "B.BIN", 4096, 5120, 4)),
        // Every block is named, by the files or by an erased one: a lost block becomes a hole,
        // and the record count is cut to what is left.
        Row("no block free",
            [](Damaged& x) {
                for (int n = 0; n <= 10; ++n) {
                    std::vector<int> blocks;
                    for (int b = 1 + 16 * n; b <= std::min(16 + 16 * n, 174); ++b) blocks.push_back(b);
                    putEntry(x.image, 4 + n, 0xE5, "E       DAT", 2 * n + 1, n < 10 ? 128 : 96, blocks);
                }
                setEntry(x.image, 0, z18::entry::BLOCKS, {2});
            })
            .check(1, {"P406 entry 0 user 0 'A.TXT'", "P505 entry 0 user 0 'A.TXT'",
                       "I703 entry 4 erased 'E.DAT'", "I705 image"})
            .salvage(aLostBlock)
            .repairGives(with(aLostBlock, {{"A.TXT", {}}})),
        Row("record count above 128", poke(1, z18::entry::RECORD_COUNT, {200}))
            .check(1, {"P501 entry 1 user 0 'B.BIN'", "P504 entry 1 user 0 'B.BIN'"})
            .salvage(with(all3, {{"B.BIN", blocksData(k.image, 2, 3)}})),
        // Bytes CP/M's reading passes over: bits above the extent number, s1, bit 7 of s2, a slot
        // past the record count, attribute bits that differ between extents.
        Row("bytes CP/M does not read",
            [](Damaged& x) {
                setEntry(x.image, 0, z18::entry::EXTENT, {0x20, 200, 0x80});
                setEntry(x.image, 1, z18::entry::BLOCKS + 5, {200});
                entryIn(x.image, 3)[z18::entry::TYPE] |= 0x80;
            })
            .check(1, {"P502 entry 0 user 0 'A.TXT'", "P503 entry 0 user 0 'A.TXT'",
                       "P508 entry 0 user 0 'A.TXT'", "P401 entry 1 user 0 'B.BIN'", "P307 entry 3 user 0 "}),
        Row("s2 past what CP/M addresses", poke(3, z18::entry::S2, {20}))
            .check(1, {"P507 entry 3 user 0 'C.DAT'"})
            .salvage(with(
                all3, {{"C.DAT", slice(k.of("C.DAT"), 0, 32768)}, {"C~1.DAT", slice(k.of("C.DAT"), 32768)}})),
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir d;
        Damaged x{k.image, d, {}, {}};
        row.damage(x);
        const std::string disk = d / "disk.z18";
        writeFile(disk, x.image);
        // z18fsck on the damaged image with the row's arguments and these, held to the row's exit
        // status and to the lines given.
        const auto run = [&](const Args& args, const std::vector<const char*>& lines = {}) {
            std::string out;
            EXPECT_EQ(fsck(x.all + args + Args{disk}, &out), row.status) << out;
            for (const char* line : lines)
                EXPECT_NE(out.find(std::string("\n") + line), std::string::npos) << out;
            return out;
        };
        const std::string check = run({}, row.codes);
        // --json, read by a strict parser, says what the text says.
        const ExeResult json = jsonFields(run({"--json"}));
        EXPECT_EQ(json.status, 0) << json.out;
        std::multiset<std::string> problems = fieldPairs(json.out, "problems", "code", "entry");
        problems.merge(fieldPairs(json.out, "information", "code", "entry"));
        EXPECT_EQ(problems, problemsOf(check));

        std::string out = run({"-x", d / "out"});
        EXPECT_TRUE(fileExists(d / "out/z18fsck-report.txt"));
        const Salvaged first = filesUnder(d / "out"), salvaged = row.salvaged.value_or(all3);
        EXPECT_EQ(differences(first, salvaged, row.others), "") << out;
        std::multiset<std::string> sizes;  // and --json names the files salvage writes, with their sizes
        for (const auto& f : first) sizes.insert(f.first + " " + std::to_string(f.second.size()));
        EXPECT_EQ(fieldPairs(json.out, "files", "host", "bytes"), sizes);
        // A second salvage into the same folder takes up what the first one wrote, unchanged.
        out = run({"-x", d / "out"});
        EXPECT_TRUE(filesUnder(d / "out") == first) << out;

        run(row.repairArgs + Args{"-o", d / "new.z18"}, row.repairCodes);
        if (row.status == 0 && row.repairArgs.empty()) {
            EXPECT_EQ(readFile(d / "new.z18"), x.image);
        }
        InProcess list;
        EXPECT_EQ(list.run({d / "new", "/c"}), 0);
        EXPECT_EQ(list.output().find("!!!"), std::string::npos) << list.output();
        const ExeResult cpm = cpmtool("fsck.cpm", {"-n", "new.z18"}, (writeDiskdefs(d.path()), d.path()));
        EXPECT_EQ(cpm.status, 0) << cpm.out;
        // The repaired image is clean, and holds the files, erased ones and lost data salvage
        // found, each whole, but for what the repair changed.
        EXPECT_EQ(fsck({"-x", d / "again", d / "new.z18"}, &out), 0) << out;
        EXPECT_EQ(differences(filesUnder(d / "again"), row.repaired.value_or(salvaged), row.others), "")
            << out;
        z18::fsck::Plan damaged, repaired;
        ASSERT_TRUE(planOf(*z18::defaultEnv(), disk, &damaged, x.map, !row.repairArgs.empty()) &&
                    planOf(*z18::defaultEnv(), d / "new.z18", &repaired));
        EXPECT_EQ(recordsKept(damaged, repaired), "");
        for (const z18::fsck::Problem& p : damaged.problems) EXPECT_EQ(missingParts(p), "") << problemLine(p);
        EXPECT_EQ(readFile(disk), x.image);
    }
    // Each code is held to some row.
    std::set<std::string> asserted;
    for (const Row& row : rows)
        for (const auto* codes : {&row.codes, &row.repairCodes})
            for (const char* code : *codes) asserted.insert(std::string(code).substr(0, 4));
    for (z18::fsck::Code code : z18::fsck::allCodes())
        EXPECT_EQ(asserted.count(codeText(code)), 1u) << codeText(code);
}

TEST(Fsck, RefusesToReplaceOrFillAnything) {
    Z18_SKIP_FOR_NODE_EXE("z18fsck has no Node build");
    TempDir d;
    writeFile(d / "disk.z18", blankImage());
    writeFile(d / "taken.z18", std::string("mine"));
    std::filesystem::create_directory(d / "full");
    writeFile(d / "full/keep", std::string("mine"));
    // Each refusal says why, with the system's reason where it gave one; Windows words its own.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{}, "Usage: "},
        {{"-q", d / "disk.z18"}, "Usage: "},
        {{"-u", d / "disk.z18"},
         "z18fsck: -u brings files back into a repaired image only: give -o NEW.z18 too\n"},
        {{d / "none.z18"}, "cannot open image '" + d / "none.z18" + "': No such file or directory\n"},
        {{d / "full"}, "cannot open image '" + d / "full" + "': Is a directory\n"},
        {{"-o", d / "taken.z18", d / "disk.z18"}, "will not replace existing '" + d / "taken.z18" + "'\n"},
        {{"-o", d / "none/new.z18", d / "disk.z18"},
         "cannot create '" + d / "none/new.z18.part" + "': No such file or directory\n"},
        {{"-x", d / "full", d / "disk.z18"}, "is not empty or not a folder: '" + d / "full" + "'\n"},
        {{"-x", d / "taken.z18", d / "disk.z18"},
         "is not empty or not a folder: '" + d / "taken.z18" + "': Not a directory\n"},
        {{"-x", d / "none/sub", d / "disk.z18"},
         "cannot make salvage folder '" + d / "none/sub" + "': No such file or directory\n"}};
    std::string out;
    for (const auto& r : refused) {
        EXPECT_EQ(fsck(r.first, &out), 2) << out;
        const std::size_t reason = r.second.find("': ");
        const std::string want =
            windowsExe() && reason != std::string::npos ? r.second.substr(0, reason + 3) : r.second;
        EXPECT_NE(out.find(want), std::string::npos) << out;
    }
    EXPECT_EQ(readFile(d / "taken.z18"), Bytes({'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(fileExists(d / "full/z18fsck-report.txt"));
}

// What a run that could not finish leaves is what the next run takes up: a salvage stopped by a
// full disk names its cut-short file as partial and writes its report, and a rerun into the same
// folder finishes it; a NEW.part left behind goes before any work. Failures go to the error
// stream, with nothing on the report's.
TEST(Fsck, WhatAStoppedRunLeavesARerunTakesUp) {
    z18::MemEnv mem;
    mem.putFile("disk.z18", imageOfFiles({"A       TXT", "B       TXT", "C       TXT"}));
    const auto run = [](z18::Env& env, const std::vector<std::string>& args, std::string* err) {
        std::string out;
        return fsckRun(env, args, &out, err);
    };
    std::string err;
    z18::FaultEnv full(&mem);
    full.inject(z18::FaultEnv::Op::Write, 2, z18::FaultEnv::Kind::Short);
    EXPECT_EQ(run(full, {"-x", "out", "disk.z18"}, &err), 2);
    EXPECT_NE(
        err.find("cannot write 'out/B.TXT': " + z18::errorText({z18::HostErrorKind::NoSpace, 0}) + "\n"),
        std::string::npos)
        << err;
    EXPECT_TRUE(mem.isFile("out/B.TXT.partial") && !mem.exists("out/B.TXT") && !mem.exists("out/C.TXT"));
    const Bytes a = mem.bytes("out/A.TXT");
    const Bytes& written = mem.bytes("out/z18fsck-report.txt");
    const std::string report(written.begin(), written.end());
    EXPECT_NE(report.find("B.TXT.partial, 127 of 128 bytes, partial: cut short\n"), std::string::npos)
        << report;

    EXPECT_EQ(run(mem, {"-x", "out", "disk.z18"}, &err), 0) << err;
    EXPECT_TRUE(mem.isFile("out/B.TXT") && mem.isFile("out/C.TXT") && !mem.exists("out/B.TXT.partial"));
    EXPECT_EQ(mem.bytes("out/A.TXT"), a);
    mem.putFile("other/A.TXT", a);  // no report, nothing partial: no salvage made this folder
    mem.putFile("out/mine.txt", std::string("mine"));
    EXPECT_EQ(run(mem, {"-x", "out", "disk.z18"}, &err), 2);
    EXPECT_EQ(run(mem, {"-x", "other", "disk.z18"}, &err), 2);
    EXPECT_TRUE(mem.isFile("out/mine.txt") && mem.isFile("other/A.TXT"));

    mem.putFile("new.z18.part", std::string("half an image"));
    EXPECT_EQ(run(mem, {"-o", "new.z18", "disk.z18"}, &err), 0) << err;
    EXPECT_NE(err.find("new.z18.part"), std::string::npos) << err;
    EXPECT_TRUE(mem.isFile("new.z18") && !mem.exists("new.z18.part"));
    mem.makeDirectory("odd.z18.part");
    EXPECT_EQ(run(mem, {"-x", "odd", "-o", "odd.z18", "disk.z18"}, &err), 2);
    EXPECT_FALSE(mem.exists("odd"));  // refused before any work

    EXPECT_EQ(run(mem, {"-q", "disk.z18"}, &err), 2);
    EXPECT_EQ(err.rfind("z18fsck: unknown option '-q'\n", 0), 0u) << err;
}

// Names from the image and paths from the command line reach the terminal and the report file
// with every byte the terminal could act on escaped, and --json stays JSON a strict parser reads:
// the backslash of each escape and a quote in a name are themselves escaped there.
TEST(Fsck, NamesAndPathsAreEscapedInTheReportAndTheJson) {
    const Bytes image =
        imageOfFiles({"A\\B     TXT", "Q\"T     TXT", "\x1b[2J    TXT", "\x7f\x9bX\xc2\x9f   TXT"});
    const std::string disk = "d\x1b\x9b.z18", folder = "o\x7f\xc2\x85", repaired = "n\x07.z18";
    const auto run = [&](const Args& args, std::string* report) {
        z18::MemEnv mem;
        mem.putFile(disk, image);
        std::string out;
        EXPECT_EQ(fsckRun(mem, args + Args{"-x", folder, "-o", repaired, disk}, &out), 1);
        const Bytes& written = mem.bytes(folder + "/z18fsck-report.txt");
        *report = std::string(written.begin(), written.end());
        return out;
    };
    // The lines that would still change once every byte visible() escapes were escaped.
    const auto unescaped = [](const std::string& text) {
        std::istringstream lines(text);
        std::string found;
        for (std::string line; std::getline(lines, line);) {
            std::ostringstream shown;
            shown << z18::visible(line);
            if (shown.str() != line) found += line + "\n";
        }
        return found;
    };

    std::string report;
    const std::string text = run({}, &report);
    EXPECT_EQ(unescaped(text), "");
    EXPECT_EQ(unescaped(report), "");
    for (const char* shown : {"Checking 'd\\x1B\\x9B.z18'\n", "\nP304 entry 0 user 0 'A\\B.TXT'",
                              "\nP304 entry 3 user 0 '\\x7F\\x9BX\\xC2\\x9F.TXT'", "\n'\\x1B[2J.TXT' -> ",
                              " 'o\\x7F\\xC2\\x85'", " 'n\\x07.z18' ", "\nd\\x1B\\x9B.z18: "})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    EXPECT_NE(report.find("\n'\\x1B[2J.TXT' -> "), std::string::npos) << report;

    const ExeResult json = jsonFields(run({"--json"}, &report));
    ASSERT_EQ(json.status, 0) << json.out;
    for (const char* field : {"image=d\\x1B\\x9B.z18", "problems.0.name=A\\B.TXT", "files.1.name=Q\"T.TXT",
                              "files.2.name=\\x1B[2J.TXT", "files.3.name=\\x7F\\x9BX\\xC2\\x9F.TXT",
                              "salvage.folder=o\\x7F\\xC2\\x85", "repair.image=n\\x07.z18"})
        EXPECT_NE(("\n" + json.out).find("\n" + std::string(field) + "\n"), std::string::npos)
            << field << "\n"
            << json.out;
}

// Every failure names the cause of the host call that met it, never that of a later look: an
// erased file's folder that cannot be made says why the making failed.
TEST(Fsck, EachHostFailureNamesItsOwnCause) {
    using Op = z18::FaultEnv::Op;
    struct Fault {
        Op op;
        int nth;
        const char* path;
        Args args;  // before the image's name
        std::string line;
    };
    const Fault faults[] = {
        {Op::MakeFolder, 2, "", {"-x", "out"}, "cannot make salvage folder 'out/erased'"},
        {Op::MakeFolder, 1, "", {"-x", "out"}, "cannot make salvage folder 'out'"},
        {Op::Open, 1, "", {}, "cannot open image 'disk.z18'"},
        {Op::Read, 1, "map", {"-b", "map"}, "cannot read the bad-sector map 'map'"},
        {Op::Open, 1, "A.TXT", {"-x", "out"}, "cannot write 'out/A.TXT'"},
        {Op::Flush, 2, "", {"-o", "new.z18"}, "cannot write 'new.z18.part'"},
        {Op::Write, 1, "report.txt", {"-x", "out"}, "cannot write the report 'out/z18fsck-report.txt'"},
    };
    Bytes image = imageOfFiles({"A       TXT", "B       TXT", "C       TXT"});
    entryIn(image, 2)[0] = z18::FILLER_BYTE;  // C.TXT erased: salvage puts it into a folder of its own
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.line);
        z18::MemEnv mem;
        mem.putFile("disk.z18", image);
        mem.putFile("map", std::string("22\n"));
        z18::FaultEnv env(&mem);
        env.inject(f.op, f.nth, z18::FaultEnv::Kind::Fail, f.path);
        std::string out, err;
        EXPECT_EQ(fsckRun(env, f.args + Args{"disk.z18"}, &out, &err), 2);
        EXPECT_NE(err.find("z18fsck: " + f.line + ": Input/output error"), std::string::npos) << err;
    }
}

// An image that is no regular file, or one another run holds for writing, is refused before
// anything is read, with the cause in the system's own words (or the host's, where the system
// gave no number).
TEST(Fsck, AnImageThatIsNoFileIsRefusedWithTheSystemsCause) {
    TempDir d;
    writeFile(d / "file", std::string("x"));
    std::filesystem::create_directory(d / "folder");
    ASSERT_EQ(::symlink("folder", (d / "to-folder").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (d / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink("loop", (d / "loop").c_str()), 0);
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0666), 0);
    writeFile(d / "held", blankImage());
    const int held = ::open((d / "held").c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);  // as a writing z18man holds it
    const std::pair<std::string, const char*> images[] = {
        {d / "folder", "Is a directory"},
        {d / "to-folder", "Is a directory"},
        {d / "fifo", "Not a regular file"},
        {"/dev/null", "Not a regular file"},
        {d / "dangling", "No such file or directory"},
        {d / "missing", "No such file or directory"},
        {d / "file/disk.z18", "Not a directory"},
        {d / "loop", "Too many levels of symbolic links"},
        {d / std::string(300, 'n'), "File name too long"},
        {d / "held", "In use by another process"},
    };
    for (const auto& image : images) {
        std::string out, err;
        EXPECT_EQ(fsckRun(*z18::defaultEnv(), {image.first}, &out, &err), 2) << image.first;
        EXPECT_EQ(err, "z18fsck: cannot open image '" + image.first + "': " + image.second + "\n");
        EXPECT_EQ(out, "");
    }
    // The path of a failure is shown with its control bytes escaped.
    std::string out, err;
    EXPECT_EQ(fsckRun(*z18::defaultEnv(), {d / "\x1b\xc2\x9b.z18"}, &out, &err), 2);
    EXPECT_EQ(err,
              "z18fsck: cannot open image '" + d / "\\x1B\\xC2\\x9B.z18" + "': No such file or directory\n");
    ::close(held);
}
