// Seeded random file sets through add, catalogue, extract and erase, with the image checked after
// every step.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "commands/command_util.h"
#include "image/image_file.h"

using namespace cmdtest;
using namespace z18test;

namespace {

struct HostFile {
    std::string hostName;  // as on the host, mixed case
    std::string cpmName;   // NAME.EXT, upper case
    Bytes data;
};

std::string randomName(std::mt19937& gen) {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_$#!~";
    auto part = [&](int lo, int hi) {
        std::string s;
        const int n = lo + static_cast<int>(gen() % static_cast<unsigned>(hi - lo + 1));
        for (int i = 0; i < n; ++i) s += alphabet[gen() % alphabet.size()];
        return s;
    };
    const std::string name = part(1, 8), type = part(0, 3);
    return type.empty() ? name : name + "." + type;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return s;
}

// Files that together fit a fresh image: at most 64 entries and 174 blocks.
std::vector<HostFile> randomFiles(std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<HostFile> files;
    std::set<std::string> taken;
    std::size_t blocks = 0, entries = 0;
    while (files.size() < 14) {
        HostFile f;
        f.hostName = randomName(gen);
        f.cpmName = upper(f.hostName);
        if (!taken.insert(f.cpmName).second) continue;
        // Mostly small files, some past one and two entries.
        const std::size_t sizes[] = {0, 1, 127, 128, 129, 2047, 2048, 2049, 16384, 32768, 32769, 40000};
        std::size_t size = gen() % 3 == 0 ? sizes[gen() % 12] : gen() % 20000;
        const std::size_t b = (size + 2047) / 2048, e = std::max<std::size_t>(1, (size + 32767) / 32768);
        if (blocks + b > 174 || entries + e > 64) break;
        blocks += b;
        entries += e;
        f.data = randomBytes(size, gen());
        files.push_back(std::move(f));
    }
    return files;
}

// What must hold for the files of `files` added in host-name order to a fresh image: each file
// where its layout puts it, every block named once, boot area and signature as formatted.
void checkImage(const Bytes& image, const std::vector<HostFile>& files) {
    const Bytes boot(z18::bootAreaBytes(), z18::bootAreaBytes() + z18::BOOT_AREA_SIZE);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + z18::BOOT_AREA_SIZE), boot);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()) + z18::SIGNATURE_OFFSET),
              z18::SIGNATURE_TEXT);
    std::set<int> seen;
    int entry = 0;
    for (const HostFile& f : files) {
        const std::size_t blocks = (f.data.size() + 2047) / 2048;
        Bytes stored;
        std::size_t taken = 0;
        do {
            const Bytes e = entryBytes(image, entry++);
            EXPECT_EQ(e[0], 0);
            for (int slot = 0; slot < 16 && e[16 + slot] != 0; ++slot, ++taken) {
                EXPECT_TRUE(seen.insert(e[16 + slot]).second)
                    << "block " << int(e[16 + slot]) << " named twice";
                stored = concat(stored, blockBytes(image, e[16 + slot]));
            }
        } while (taken < blocks);
        EXPECT_EQ(stored, padded(f.data, 2048)) << f.cpmName;
    }
    for (int i = entry; i < 64; ++i) EXPECT_EQ(entryBytes(image, i)[0], z18::FILLER_BYTE);
}

std::string row(const HostFile& f) {
    const int records = static_cast<int>((f.data.size() + 127) / 128);
    char text[64];
    std::snprintf(text, sizeof text, "%-12s  %4d %4dK  --", f.cpmName.c_str(), records,
                  (records + 15) / 16 * 2);
    return text;
}

}  // namespace

class RoundTrip : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(RoundTrip, AddListExtractErase) {
    std::vector<HostFile> files = randomFiles(GetParam());
    ASSERT_FALSE(files.empty());
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "in").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "out").c_str(), 0777), 0);
    for (const HostFile& f : files) writeFile(dir / ("in/" + f.hostName), f.data);
    // The host search delivers names in byte order, and that is the order they are added in.
    std::sort(files.begin(), files.end(),
              [](const HostFile& a, const HostFile& b) { return a.hostName < b.hostName; });

    const Result add = run({dir / "disk", "/a", dir / "in/*.*"});
    ASSERT_EQ(add.status, 0);
    for (const HostFile& f : files)
        EXPECT_NE(add.body.find("File '" + f.cpmName + "' added\n"), std::string::npos) << f.hostName;
    EXPECT_NE(add.body.find("Done. " + std::to_string(files.size()) + " file(s) added."), std::string::npos);
    const Bytes image = readFile(dir / "disk.z18");
    checkImage(image, files);

    const Result cat = run({dir / "disk", "/c"});
    int totalK = 0, usedBlocks = 0;
    for (const HostFile& f : files) {
        EXPECT_NE(cat.body.find(row(f)), std::string::npos) << row(f) << "\n" << cat.body;
        totalK += static_cast<int>((f.data.size() + 127) / 128 + 15) / 16 * 2;
        usedBlocks += static_cast<int>((f.data.size() + 2047) / 2048);
    }
    char totals[80];
    std::snprintf(totals, sizeof totals, "\n%dK in %zu file(s), %dK free\n", totalK, files.size(),
                  2 * (174 - usedBlocks));
    EXPECT_NE(cat.body.find(totals), std::string::npos) << cat.body;
    EXPECT_EQ(readFile(dir / "disk.z18"), image);

    const Result extract = run({dir / "disk", "/x", dir / "out/*.*"});
    EXPECT_NE(extract.body.find("Done. " + std::to_string(files.size()) + " file(s) extracted."),
              std::string::npos);
    for (const HostFile& f : files)
        EXPECT_EQ(readFile(dir / ("out/" + f.cpmName)), padded(f.data, 128)) << f.cpmName;
    EXPECT_EQ(readFile(dir / "disk.z18"), image);

    const Result erase = run({dir / "disk", "/e", "*.*"});
    EXPECT_NE(erase.body.find("Done. " + std::to_string(files.size()) + " file(s) erased."),
              std::string::npos);
    const Bytes erased = readFile(dir / "disk.z18");
    Bytes expected = image;
    for (int i = 0; i < 64; ++i)
        if (entryBytes(image, i)[0] == 0) entryIn(expected, i)[z18::entry::USER] = z18::FILLER_BYTE;
    EXPECT_TRUE(erased == expected) << "erase changed more than the user bytes";
    EXPECT_NE(run({dir / "disk", "/c"}).body.find("\n0K in 0 file(s), 348K free\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RoundTrip, ::testing::Values(1u, 2u, 3u, 4u, 5u));
