#include "fsck/disk.h"

#include <algorithm>
#include <cstring>

#include "host/ascii.h"
#include "image/image_file.h"

namespace z18::fsck {

namespace {

constexpr std::uint64_t USUAL_HEADERS[] = {256, 512};

// Whether every one of n bytes from at was read, by the flags of `read`.
bool allRead(const std::vector<std::uint8_t>& read, std::uint64_t at, std::size_t n) {
    return at + n <= read.size() && std::memchr(read.data() + at, 0, n) == nullptr;
}

// The file as read, from its start: bytes and whether each was read.
struct Raw {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> read;  // 1 for each byte read

    bool has(std::uint64_t at, std::size_t n) const { return allRead(read, at, n); }
};

// The marks z18man leaves on a disk beginning at `at`: its signature record and its boot area.
bool signatureAt(const Raw& raw, std::uint64_t at) {
    const std::size_t length = std::strlen(SIGNATURE_TEXT);
    const std::uint64_t sig = at + SIGNATURE_OFFSET;
    return raw.has(sig, length) && std::memcmp(raw.bytes.data() + sig, SIGNATURE_TEXT, length) == 0;
}

bool bootAreaAt(const Raw& raw, std::uint64_t at) {
    return raw.has(at, BOOT_AREA_SIZE) &&
           std::memcmp(raw.bytes.data() + at, bootAreaBytes(), BOOT_AREA_SIZE) == 0;
}

// How well a disk beginning at `at` fits what the file holds: its directory entries that are
// free or could be ones CP/M wrote (the used ones count twice), the signature record and the
// boot area z18man writes, and a size that leaves exactly one disk.
int fitOfStart(const Raw& raw, std::uint64_t at, std::uint64_t fileSize) {
    int fit = 0;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint64_t e = at + DIRECTORY_OFFSET + static_cast<std::uint64_t>(i) * ENTRY_SIZE;
        if (!raw.has(e, ENTRY_SIZE)) continue;
        const std::uint8_t* bytes = raw.bytes.data() + e;
        if (bytes[entry::USER] == FILLER_BYTE) {
            ++fit;
            continue;
        }
        if (plausibleEntry(bytes)) fit += 2;
    }
    if (signatureAt(raw, at)) fit += 2 * DIRECTORY_ENTRIES;
    if (bootAreaAt(raw, at)) fit += DIRECTORY_ENTRIES;
    if (fileSize - at == IMAGE_SIZE) ++fit;  // decides between starts that fit alike
    return fit;
}

// A file may hold a header before the disk: the usual 256 or 512 bytes, or as many as the file
// holds over one disk, or wherever a signature record lies. A dump cut short may hold one too,
// so the length alone rules none out: a start other than the file's own is taken only where the
// disk fits better there, and in a file no longer than a disk only where a mark shows it.
std::uint64_t findStart(const Raw& raw, std::uint64_t fileSize) {
    std::vector<std::uint64_t> starts(std::begin(USUAL_HEADERS), std::end(USUAL_HEADERS));
    if (fileSize > IMAGE_SIZE && fileSize - IMAGE_SIZE <= MAX_HEADER) starts.push_back(fileSize - IMAGE_SIZE);
    const std::uint8_t* begin = raw.bytes.data();
    const std::uint8_t* end = begin + raw.bytes.size();
    const char* text = SIGNATURE_TEXT;
    for (const std::uint8_t* at = begin + SIGNATURE_OFFSET;
         (at = std::search(at, end, text, text + std::strlen(text))) != end; ++at)
        starts.push_back(static_cast<std::uint64_t>(at - begin) - SIGNATURE_OFFSET);
    std::uint64_t best = 0;
    int bestFit = fitOfStart(raw, 0, fileSize);
    for (std::uint64_t start : starts) {
        if (start == 0 || start > MAX_HEADER || start >= fileSize) continue;
        // In a file no longer than a disk, a later start needs a mark of its own: entry-like
        // bytes in a file's blocks (a copy of a directory, say) must not shift a sound image.
        if (fileSize <= IMAGE_SIZE && !signatureAt(raw, start) && !bootAreaAt(raw, start)) continue;
        const int fit = fitOfStart(raw, start, fileSize);
        if (fit > bestFit) {
            best = start;
            bestFit = fit;
        }
    }
    return best;
}

// A number as ddrescue writes them: decimal, or hexadecimal after "0x". Read here rather than
// by the C library, whose reading depends on the locale.
bool parseNumber(const std::string& word, std::uint64_t* n) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    if (word.empty() || word.size() > (hex ? 18u : 19u)) return false;
    *n = 0;
    for (std::size_t k = hex ? 2 : 0; k < word.size(); ++k) {
        const char c = word[k];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        *n = *n * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    }
    return true;
}

// The words of a line, between spaces and tabs.
std::vector<std::string> wordsOf(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line + ' ') {
        if (c != ' ' && c != '\t' && c != '\r') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

}  // namespace

bool plausibleEntry(const std::uint8_t* e) {
    if (e[entry::USER] > MAX_USER_BYTE || (e[entry::NAME] & NO_BIT_7) == ' ') return false;
    for (std::size_t k = entry::NAME; k < entry::EXTENT; ++k)
        if (!isPrintableAscii(e[k] & NO_BIT_7)) return false;
    return true;
}

bool Disk::readable(std::uint64_t at, std::size_t n) const { return allRead(read, at, n); }

bool parseBadSectorMap(const std::string& text, BadSectorMap* map, int* badLine) {
    int number = 0;
    enum { UNKNOWN, DDRESCUE, LIST } kind = UNKNOWN;
    bool statusSeen = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        const std::vector<std::string> words = wordsOf(line.substr(0, line.find('#')));
        if (words.empty()) continue;
        std::uint64_t a = 0, b = 0;
        // A ddrescue status is one character that is no digit: "?", "*", "/", "-", "+" and so on.
        const bool statusWord =
            words.size() >= 2 && words[1].size() == 1 && (words[1][0] < '0' || words[1][0] > '9');
        if (kind == UNKNOWN) kind = statusWord ? DDRESCUE : LIST;
        if (kind == LIST) {
            if (words.size() != 1 || !parseNumber(words[0], &a) ||
                a >= static_cast<std::uint64_t>(SECTOR_COUNT)) {
                *badLine = number;
                return false;
            }
            map->sectors.push_back(static_cast<int>(a));
            continue;
        }
        // ddrescue: the first line is the state of the rescue (position, status, pass), every
        // later one a block: position, size, status.
        if (!statusSeen) {
            statusSeen = words.size() <= 3 && statusWord && parseNumber(words[0], &a);
            if (!statusSeen) {
                *badLine = number;
                return false;
            }
            continue;
        }
        const bool ok = words.size() == 3 && parseNumber(words[0], &a) && parseNumber(words[1], &b) &&
                        words[2].size() == 1 && a + b >= a;
        if (!ok) {
            *badLine = number;
            return false;
        }
        if (words[2] != "+") map->fileRanges.emplace_back(a, a + b);
    }
    return true;
}

HostStatus readDisk(HostFile& image, const BadSectorMap& map, Disk* disk) {
    const HostResult<std::uint64_t> size = image.size();
    if (!size.ok()) return size.status();
    disk->fileSize = size.value();
    // Sector by sector, so that one that cannot be read costs only its own bytes; a sector read
    // in part (at the end of a cut-off file) keeps the bytes it gave.
    Raw raw;
    const std::uint64_t want = std::min<std::uint64_t>(disk->fileSize, IMAGE_SIZE + MAX_HEADER);
    raw.bytes.assign(want, 0);
    raw.read.assign(want, 0);
    for (std::uint64_t at = 0; at < want; at += SECTOR_SIZE) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(SECTOR_SIZE, want - at));
        std::size_t done = 0;
        if (!image.readAt(at, raw.bytes.data() + at, n, &done).ok()) done = 0;
        done = std::min(done, n);
        std::fill(raw.bytes.begin() + static_cast<std::ptrdiff_t>(at + done),
                  raw.bytes.begin() + static_cast<std::ptrdiff_t>(at + n), 0);
        std::fill(raw.read.begin() + static_cast<std::ptrdiff_t>(at),
                  raw.read.begin() + static_cast<std::ptrdiff_t>(at + done), 1);
    }
    for (const auto& range : map.fileRanges)
        for (std::uint64_t k = range.first; k < std::min<std::uint64_t>(range.second, want); ++k) {
            raw.read[k] = 0;
            raw.bytes[k] = 0;
        }

    disk->offset = findStart(raw, disk->fileSize);
    if (disk->offset < want) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(IMAGE_SIZE, want - disk->offset));
        std::memcpy(disk->bytes.data(), raw.bytes.data() + disk->offset, n);
        std::memcpy(disk->read.data(), raw.read.data() + disk->offset, n);
    }
    for (int sector : map.sectors)
        for (std::size_t k = 0; k < SECTOR_SIZE; ++k) {
            const std::size_t at = static_cast<std::size_t>(sector) * SECTOR_SIZE + k;
            disk->read[at] = 0;
            disk->bytes[at] = 0;
        }
    return HostStatus();
}

}  // namespace z18::fsck
