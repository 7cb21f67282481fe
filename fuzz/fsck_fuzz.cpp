// z18fsck on an image built from the input: its first 2048 bytes are the directory, the next
// byte, where there is one, cuts the image short (its value in 2 KiB steps, 0 keeping it whole),
// and the rest fills the data blocks from block 1 on. Every run checks, salvages and repairs
// (bringing back every erased file it can) on the in-memory host, and is held to what z18fsck
// promises: the image is never changed, nothing raw reaches the terminal, every problem gives
// the parts its words name, the repaired image loads in z18man and checks clean, every record
// salvage found intact is in it at the same place of the same file, and a clean image with
// nothing to bring back is repaired into a copy of itself.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "fsck/fsck.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "support/fsck_records.h"
#include "support/mem_env.h"

using namespace z18;

namespace {

[[noreturn]] void broken(const char* what, const std::string& output) {
    std::fprintf(stderr, "\ninvariant broken: %s\n%s\n", what, output.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemEnv env;
    static MemEnv::Bytes image;
    env.reset();
    image.assign(IMAGE_SIZE, FILLER_BYTE);
    std::memcpy(image.data() + DIRECTORY_OFFSET, data, std::min(size, DIRECTORY_SIZE));
    if (size > DIRECTORY_SIZE) {
        if (data[DIRECTORY_SIZE] != 0)
            image.resize(static_cast<std::size_t>(data[DIRECTORY_SIZE]) * BLOCK_SIZE);
        const std::size_t rest = std::min(size - DIRECTORY_SIZE - 1, IMAGE_SIZE - blockOffset(1));
        if (image.size() >= blockOffset(1) + rest)
            std::memcpy(image.data() + blockOffset(1), data + DIRECTORY_SIZE + 1, rest);
    }
    env.putFile("disk.z18", image.data(), image.size());

    std::string out;
    const int status = z18test::fsckRun(env, {"-x", "out", "-o", "new.z18", "-u", "disk.z18"}, &out);
    if (status != fsck::EXIT_CLEAN && status != fsck::EXIT_PROBLEMS) broken("the run failed", out);
    if (env.bytes("disk.z18") != image) broken("the image changed", out);
    for (char c : out)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F)
            broken("a raw control byte", out);
    if (!env.isFile("out/z18fsck-report.txt")) broken("no report", out);
    fsck::Plan damaged, repaired;
    if (!z18test::planOf(env, "disk.z18", &damaged, "", true) || !z18test::planOf(env, "new.z18", &repaired))
        broken("no plan", out);
    if (status == fsck::EXIT_CLEAN && damaged.restored == 0 && env.bytes("new.z18") != image)
        broken("a clean image changed", out);
    for (const fsck::Problem& p : damaged.problems)
        if (!fsck::missingParts(p).empty())
            broken("a problem lacks a part its words name", fsck::problemLine(p));
    const std::string moved = z18test::recordsKept(damaged, repaired);
    if (!moved.empty()) broken(moved.c_str(), out);

    std::ostringstream loaded;
    Session z18man(env, loaded);
    z18man.imageName = "new.z18";
    if (!openImage(z18man, false) || !loadDirectory(z18man))
        broken("z18man refuses the repair", loaded.str());
    closeImage(z18man);
    if (z18test::fsckRun(env, {"new.z18"}, &out) != fsck::EXIT_CLEAN) broken("the repair is not clean", out);
    return 0;
}
