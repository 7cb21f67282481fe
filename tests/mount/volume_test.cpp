// The folder's operations on the in-memory host, without the kernel: placement against the add
// request, reading against the extract, and each rule of names, areas, attributes and full disks.
#include <gtest/gtest.h>

#include "mount/mount_util.h"
#include "support/test_support.h"

using namespace mounttest;
using z18::FolderError;
using Names = std::vector<std::string>;

namespace {

const Bytes HI = {'h', 'i', '\n'};

Names names(z18::Volume& v, const std::string& folder) {
    std::vector<std::pair<std::string, z18::FolderItem>> items;
    Names out;
    v.list(folder, &items);
    for (const auto& item : items) out.push_back(item.first);
    return out;
}

std::string attributes(z18::Volume& v, const std::string& path) {
    std::string value;
    return v.getAttribute(path, z18::ATTRIBUTES_NAME, &value) == FolderError::None ? value : "?";
}

}  // namespace

// Copies in, one after the other, leave the image byte for byte as one add each of the same files
// would, around every size boundary, onto a blank image and onto one with a hole an erase left.
TEST(MountPlacement, CopiesInAreAddsByteForByte) {
    Files in;  // F0.BIN ... F9.BIN, in this order
    for (const std::size_t size : {0, 100, 2048, 16385, 32768, 32769, 70000, 5, 0, 128}) {
        const std::uint32_t n = static_cast<std::uint32_t>(in.size());
        in["F" + std::to_string(n) + ".BIN"] = randomBytes(size, n + 1);
    }
    z18::MemEnv holed;
    holed.putFile(IMAGE, imageWith({{"OLD1", randomBytes(5000, 7)}, {"OLD2", randomBytes(40000, 8)}}));
    z18man(holed, {"/e", "OLD1"});
    for (const Bytes& start : {imageWith({}), holed.bytes(IMAGE)}) {
        Mounted m(start);
        for (const auto& file : in)
            ASSERT_EQ(put(*m.volume, "/" + file.first, file.second, 3000), FolderError::None) << file.first;
        EXPECT_TRUE(m.image() == imageWith(in, start));
    }
}

// Odd directories read as z18man's extract writes them: entries out of order, a gap, a record
// count past the blocks, attribute bits that make two keys one file, lower-case names, other areas.
TEST(MountReading, FilesAreWhatTheExtractWrites) {
    Bytes image = imageWith({});
    const Bytes data = randomBytes(60 * 2048, 9);
    std::vector<int> blocks;
    for (int b = 1; b <= 60; ++b)
        z18test::putBlock(image, b, data, static_cast<std::size_t>(b - 1) * 2048), blocks.push_back(b);
    auto run = [&blocks](int from, int n) {
        return std::vector<int>(blocks.begin() + from - 1, blocks.begin() + from - 1 + n);
    };
    z18test::putEntry(image, 0, 0, "ORDER   DAT", 5, 10, run(33, 8));  // its last part first
    z18test::putEntry(image, 1, 0, "ORDER   DAT", 1, 128, run(1, 16));
    z18test::putEntry(image, 2, 0, z18test::withBits("ORDER   DAT", {8}), 3, 128, run(17, 16));
    z18test::putEntry(image, 3, 0, "GAP     DAT", 1, 128, run(41, 10));
    z18test::putEntry(image, 4, 0, "GAP     DAT", 5, 128, {51});   // after a missing extent pair
    z18test::putEntry(image, 5, 0, "SHORT", 0, 100, {52, 0, 53});  // the count runs past a hole
    z18test::putEntry(image, 6, 0, "lower   txt", 0, 3, {54});
    z18test::putEntry(image, 7, 3, "OTHER", 0, 16, {55});
    Mounted m(image);
    const Files ours = m.files();
    EXPECT_EQ(names(*m.volume, "/"), (Names{"u3", "ORDER.DAT", "GAP.DAT", "SHORT", "LOWER.TXT"}));
    EXPECT_EQ(unlikeZ18man(ours, image), "");
    for (const auto& file : ours) {
        z18::FolderItem item;
        m.volume->stat("/" + file.first, &item);
        EXPECT_EQ(item.size, file.second.size()) << file.first;
    }
    EXPECT_EQ(ours.at("ORDER.DAT").size(), 40u * 2048);  // entry 0's block map ends it, not its count
    EXPECT_EQ(attributes(*m.volume, "/order.dat"), "");  // the first extent's entry has no R bit
    EXPECT_EQ(get(*m.volume, "/lower.TXT"), Bytes(data.begin() + 53 * 2048, data.begin() + 53 * 2048 + 384));
}

// The rules of the folder, each with what it must refuse and what it must leave as it was.
TEST(MountRules, NamesAreasAndAttributes) {
    Mounted m(imageWith({}));
    z18::Volume& v = *m.volume;
    z18::FolderHandle h = 0;
    for (const char* bad : {"/.hidden", "/a.b.c", "/LONGNAME12.TXT", "/bad<.txt", "/A*", "/u4", "/a b"})
        EXPECT_EQ(v.create(bad, true, &h), FolderError::Invalid) << bad;
    ASSERT_EQ(put(v, "/a.txt", HI), FolderError::None);
    EXPECT_EQ(names(v, "/"), Names{"A.TXT"});
    EXPECT_EQ(get(v, "/A.tXt"), padded(HI));  // any case finds it; whole records come back
    EXPECT_EQ(v.create("/A.TXT", true, &h), FolderError::Exists);

    // User areas: u1 to u15 only, made by mkdir, kept until rmdir once empty; "U3" stays a file.
    EXPECT_EQ(v.makeFolder("/u3"), FolderError::None);
    for (const char* no : {"/u0", "/u16", "/x", "/u3/x", "/U5"})
        EXPECT_EQ(v.makeFolder(no), FolderError::NotPermitted) << no;
    ASSERT_EQ(put(v, "/u3/b.txt", HI), FolderError::None);
    ASSERT_EQ(put(v, "/U3", HI), FolderError::None);
    EXPECT_EQ(v.removeFolder("/u3"), FolderError::NotEmpty);
    EXPECT_EQ(v.rename("/u3/B.TXT", "/u5/B.TXT", true), FolderError::NotFound);  // no such area yet
    EXPECT_EQ(v.remove("/u3/B.TXT"), FolderError::None);
    EXPECT_EQ(names(v, "/"), (Names{"u3", "A.TXT", "U3"}));
    EXPECT_EQ(v.removeFolder("/u3"), FolderError::None);
    EXPECT_EQ(v.remove("/u3"), FolderError::NotFound);
    EXPECT_EQ(get(v, "/U3"), padded(HI));

    // R: no write bits, and no writing, erasing, renaming or emptying until it is cleared.
    EXPECT_EQ(v.setMode("/A.TXT", 0444), FolderError::None);
    z18::FolderItem item;
    v.stat("/A.TXT", &item);
    EXPECT_FALSE(item.writable);
    EXPECT_EQ(v.open("/A.TXT", true, false, &h), FolderError::Denied);
    EXPECT_EQ(v.remove("/A.TXT"), FolderError::Denied);
    EXPECT_EQ(v.rename("/A.TXT", "/B.TXT", true), FolderError::Denied);
    EXPECT_EQ(v.rename("/U3", "/A.TXT", true), FolderError::Denied);
    EXPECT_EQ(v.resize("/A.TXT", nullptr, 0), FolderError::Denied);
    for (const char* value : {"RS", "X", "RR", "r", "S"})
        EXPECT_EQ(v.setAttribute("/A.TXT", z18::ATTRIBUTES_NAME, value, false, false),
                  value[1] == 'S' || value[0] == 'S' ? FolderError::None : FolderError::Invalid)
            << value;
    EXPECT_EQ(attributes(v, "/A.TXT"), "S");
    EXPECT_EQ(v.setAttribute("/A.TXT", "user.other", "", false, false), FolderError::NotSupported);
    EXPECT_EQ(v.setAttribute("/A.TXT", z18::ATTRIBUTES_NAME, "", true, false), FolderError::Exists);
    EXPECT_EQ(v.setMode("/A.TXT", 0600), FolderError::None);
    EXPECT_EQ(attributes(v, "/A.TXT"), "S");
    EXPECT_EQ(v.setOwner("/A.TXT", OWNER.user, z18::SAME_OWNER), FolderError::None);
    EXPECT_EQ(v.setOwner("/A.TXT", 0, OWNER.group), FolderError::NotPermitted);
    EXPECT_EQ(v.create("/NEW.COM", false, &h), FolderError::None);  // made write-protected
    EXPECT_EQ(closeWritten(v, h, FolderError::None), FolderError::None);
    // The bits stand in every entry of the file, as z18man's catalogue shows them.
    const std::string catalogue = extractAll(m.image()).output;
    EXPECT_NE(catalogue.find("A.TXT            1    2K  -H\tNEW.COM          0    0K  R-"), std::string::npos)
        << catalogue;

    Mounted ro(m.image(), true);
    EXPECT_EQ(put(*ro.volume, "/A.TXT", HI), FolderError::ReadOnly);
    EXPECT_EQ(ro.volume->create("/C.TXT", true, &h), FolderError::ReadOnly);
    EXPECT_EQ(ro.volume->remove("/A.TXT"), FolderError::ReadOnly);
    EXPECT_EQ(ro.volume->makeFolder("/u2"), FolderError::ReadOnly);
    EXPECT_EQ(ro.image(), m.image());
}

// Renames and erasures while files are open: open handles keep the bytes they opened; holes read
// as zeros, a truncate by name is whole at once.
TEST(MountRules, RenamesAndOpenFiles) {
    Mounted m(imageWith({}));
    z18::Volume& v = *m.volume;
    const Bytes one = randomBytes(5000, 1), two = randomBytes(40000, 2);
    ASSERT_EQ(put(v, "/ONE", one), FolderError::None);
    ASSERT_EQ(put(v, "/TWO", two), FolderError::None);
    ASSERT_EQ(v.makeFolder("/u7"), FolderError::None);
    z18::FolderHandle reader = 0, h = 0;
    ASSERT_EQ(v.open("/TWO", false, false, &reader), FolderError::None);
    EXPECT_EQ(v.rename("/ONE", "/TWO", false), FolderError::Exists);
    EXPECT_EQ(v.rename("/ONE", "/two.x.y", true), FolderError::Invalid);
    EXPECT_EQ(v.rename("/ONE", "/two", true), FolderError::None);  // over it
    EXPECT_EQ(v.rename("/TWO", "/two", true), FolderError::None);  // the same file
    EXPECT_EQ(names(v, "/"), (Names{"u7", "TWO"}));
    EXPECT_EQ(v.rename("/TWO", "/u7/MOVED", true), FolderError::None);
    // The replaced file's blocks are free again; a new file takes them, and the reader still
    // reads the bytes it opened.
    ASSERT_EQ(put(v, "/NEW", randomBytes(40000, 3)), FolderError::None);
    Bytes seen(41000);
    std::size_t done = 0;
    ASSERT_EQ(v.read(reader, 0, seen.data(), seen.size(), &done), FolderError::None);
    EXPECT_EQ(Bytes(seen.begin(), seen.begin() + static_cast<long>(done)), padded(two));
    v.release(reader);
    ASSERT_EQ(v.open("/NEW", true, true, &h), FolderError::None);
    ASSERT_EQ(v.write(h, 3000, HI.data(), HI.size()), FolderError::None);
    // A reader closing meanwhile puts nothing of the unfinished file on the image.
    const Bytes unfinished = m.image();
    ASSERT_EQ(v.open("/NEW", false, false, &reader), FolderError::None);
    EXPECT_EQ(closeWritten(v, reader, FolderError::None), FolderError::None);
    EXPECT_EQ(m.image(), unfinished);
    ASSERT_EQ(closeWritten(v, h, FolderError::None), FolderError::None);
    EXPECT_EQ(get(v, "/NEW"), padded(concat(Bytes(3000, 0), HI)));
    ASSERT_EQ(v.resize("/NEW", nullptr, 100), FolderError::None);
    EXPECT_EQ(v.write(h, 0, HI.data(), 1), FolderError::Denied);  // released
    EXPECT_EQ(extractAll(m.image()).files, (Files{{"MOVED", padded(one)}, {"NEW", Bytes(128, 0)}}));
}

// A full disk or directory: ENOSPC at the close, and the file keeps what it held; failing image
// writes: a failed data write leaves the directory, a failed flush stops every later write.
TEST(MountRules, FullDiskAndFailedWrites) {
    Mounted m(imageWith({}));
    z18::Volume& v = *m.volume;
    const Bytes big = randomBytes(100 * 2048, 4);
    ASSERT_EQ(put(v, "/BIG", big), FolderError::None);
    const Bytes before = m.image();
    EXPECT_EQ(put(v, "/BIG", randomBytes(100 * 2048, 5)), FolderError::NoSpace);  // 100 + 100 > 174
    EXPECT_EQ(m.image(), before);
    EXPECT_EQ(get(v, "/BIG"), big);
    EXPECT_EQ(put(v, "/MORE", randomBytes(80 * 2048, 6)), FolderError::NoSpace);
    EXPECT_EQ(names(v, "/"), Names{"BIG"});  // not left behind
    z18::FolderHandle h = 0;
    EXPECT_EQ(v.open("/BIG", true, false, &h), FolderError::None);
    EXPECT_EQ(v.write(h, 175 * 2048, HI.data(), 1), FolderError::NoSpace);  // past any disk
    v.release(h);
    for (int i = 1; i <= 57; ++i)
        ASSERT_EQ(put(v, "/E" + std::to_string(i), Bytes()), FolderError::None) << i;
    EXPECT_EQ(v.create("/E64", true, &h), FolderError::NoSpace);
    z18::FolderSpace space;
    v.space(&space);
    EXPECT_EQ(std::vector<std::uint64_t>({space.freeFiles, space.freeBlocks, space.blocks}),
              (std::vector<std::uint64_t>{0, 74, 175}));

    ASSERT_EQ(v.remove("/E1"), FolderError::None);
    const Bytes kept = m.image();
    m.faults.inject(z18::FaultEnv::Op::Write, m.faults.calls(z18::FaultEnv::Op::Write) + 2,
                    z18::FaultEnv::Kind::Short);
    EXPECT_EQ(put(v, "/E2", randomBytes(9000, 1)), FolderError::Io);
    EXPECT_EQ(z18test::directoryOf(m.image()), z18test::directoryOf(kept));
    m.faults.inject(z18::FaultEnv::Op::Flush, m.faults.calls(z18::FaultEnv::Op::Flush) + 2,
                    z18::FaultEnv::Kind::Fail);
    EXPECT_EQ(put(v, "/NEXT", randomBytes(1000, 2)), FolderError::Io);
    EXPECT_EQ(put(v, "/LAST", HI), FolderError::Io);
    EXPECT_EQ(v.remove("/E3"), FolderError::Io);
    EXPECT_EQ(get(v, "/E2"), Bytes());
}
