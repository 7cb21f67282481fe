#include "mount/volume.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/file_walk.h"
#include "image/image_file.h"
#include "image/placement.h"

namespace z18 {

namespace {

constexpr std::size_t READ_ONLY_BYTE = entry::TYPE;
constexpr std::size_t SYSTEM_BYTE = entry::TYPE + 1;
constexpr std::uint8_t READ_ONLY = 1, SYSTEM = 2;
// Block 0 holds the directory: a file can never be larger than the rest of the disk, so nothing
// larger is ever kept in memory for one.
constexpr std::uint64_t MOST_BYTES = static_cast<std::uint64_t>(BLOCK_COUNT - 1) * BLOCK_SIZE;
constexpr std::uint32_t WRITE_BITS = 0222;

std::uint64_t wholeRecords(std::uint64_t bytes) { return recordsFor(bytes) * RECORD_SIZE; }

std::string areaFolderName(int area) { return "u" + std::to_string(area); }

// The area a top-level name opens: 1 to 15 for "u1" to "u15", spelled exactly so; 0 for any
// other name, which is a file of area 0.
int areaNumber(const std::string& text) {
    for (int area = 1; area < USER_AREAS; ++area)
        if (text == areaFolderName(area)) return area;
    return 0;
}

// The name an entry shows in the catalogue (in *text where asked), as the 8.3 name a lookup
// compares: that is how the folder shows it too.
CpmName shownNameOf(const std::uint8_t* entry, std::string* text = nullptr) {
    char shown[NAME_TEXT_SIZE + 1];
    displayName(entry + entry::NAME, shown);
    CpmName cpm;
    parseCpmName(shown, &cpm);
    if (text != nullptr) *text = shown;
    return cpm;
}

std::string shownName(const char* name) {
    char text[NAME_TEXT_SIZE + 1];
    displayName(reinterpret_cast<const std::uint8_t*>(name), text);
    return text;
}

}  // namespace

Volume::Volume(Session& s, bool readOnly, FolderOwner owner) : s_(s), readOnly_(readOnly), owner_(owner) {
    modified_ = s_.env.modificationTime(s_.imageHandle).valueOr(modified_);
    areas_.set(0);
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (s_.entryAt(i)[entry::USER] < USER_AREAS) areas_.set(s_.entryAt(i)[entry::USER]);
}

// ---- Names and what they lead to ----------------------------------------------------------

Volume::Place Volume::placeOf(const std::string& path) {
    Place p;
    if (path == "/") {
        p.kind = Place::Root;
        return p;
    }
    if (path.size() < 2 || path[0] != '/') return p;
    const std::size_t slash = path.find('/', 1);
    const std::string first = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const int area = areaNumber(first);
    std::string name = first;
    if (slash != std::string::npos) {
        name = path.substr(slash + 1);
        if (area == 0 || name.find('/') != std::string::npos) return p;
    } else if (area != 0) {
        p.kind = Place::Area;
        p.area = area;
        return p;
    }
    p.kind = Place::File;
    p.area = area;
    CpmName cpm;
    // "?" and "*" would make a pattern of the name, which no file may carry.
    p.validName = name.find_first_of("?*") == std::string::npos && parseCpmName(name, &cpm);
    std::memcpy(p.name, cpm.chars, NAME_TYPE_SIZE);
    return p;
}

int Volume::shownEntry(int area, const char* name) const {
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = s_.entryAt(i);
        // The catalogue lists a file by its entries of logical extents 0 and 1.
        if (e[entry::USER] != area || e[entry::EXTENT] > 1) continue;
        if (std::memcmp(shownNameOf(e).chars, name, NAME_TYPE_SIZE) == 0) return i;
    }
    return -1;
}

Volume::Node* Volume::liveNode(int area, const char* name) {
    for (Node& n : nodes_)
        if (!n.removed && n.area == area && std::memcmp(n.name, name, NAME_TYPE_SIZE) == 0) return &n;
    return nullptr;
}

int Volume::pendingNewFiles() const {
    return static_cast<int>(
        std::count_if(nodes_.begin(), nodes_.end(), [](const Node& n) { return !n.onImage && !n.removed; }));
}

bool Volume::areaHoldsFiles(int area) {
    for (const Node& n : nodes_)
        if (!n.onImage && !n.removed && n.area == area) return true;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = s_.entryAt(i);
        if (e[entry::USER] == area && e[entry::EXTENT] <= 1) return true;
    }
    return false;
}

FolderError Volume::findFile(const std::string& path, Found* f) {
    f->place = placeOf(path);
    const Place& p = f->place;
    if (p.kind == Place::Root) return FolderError::IsFolder;
    if (p.kind == Place::Area) return areaExists(p.area) ? FolderError::IsFolder : FolderError::NotFound;
    if (p.kind == Place::Nowhere || !p.validName || !areaExists(p.area)) return FolderError::NotFound;
    f->node = liveNode(p.area, p.name);
    f->entry = shownEntry(p.area, p.name);
    return f->node != nullptr || f->entry >= 0 ? FolderError::None : FolderError::NotFound;
}

Volume::Node* Volume::newNode(const Place& p) {
    Node& n = nodes_.emplace_back();
    n.area = p.area;
    std::memcpy(n.name, p.name, NAME_TYPE_SIZE);
    return &n;
}

Volume::Node* Volume::nodeFor(const Found& f) { return f.node != nullptr ? f.node : newNode(f.place); }

FolderHandle Volume::handOut(Node* n, bool write) {
    ++n->opens;
    handles_[nextHandle_] = OpenFile{n, write};
    return nextHandle_++;
}

void Volume::dropIfUnused(Node* n) {
    if (n->opens > 0) return;
    nodes_.remove_if([n](const Node& m) { return &m == n; });
}

Volume::OpenFile* Volume::openFile(FolderHandle handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

// ---- What the folder shows -----------------------------------------------------------------

std::uint64_t Volume::imageSize(int entry) const {
    std::uint64_t records = 0;
    FileWalk walk = beginWalk(s_.directory, keyOf(s_, entry));
    for (BlockRun run; nextRun(walk, &run);) records += static_cast<std::uint64_t>(run.records);
    return records * RECORD_SIZE;
}

const std::uint8_t* Volume::openingEntry(int entry) const {
    const int first = extentEntry(s_.directory, keyOf(s_, entry), 0);
    return s_.entryAt(first >= 0 ? first : entry);
}

std::uint8_t Volume::attributeBits(const Node* n, int entry) const {
    if (entry < 0) return n != nullptr && n->readOnly ? READ_ONLY : 0;
    const std::uint8_t* e = openingEntry(entry);
    return static_cast<std::uint8_t>(((e[READ_ONLY_BYTE] & ATTRIBUTE_BIT) ? READ_ONLY : 0) |
                                     ((e[SYSTEM_BYTE] & ATTRIBUTE_BIT) ? SYSTEM : 0));
}

FolderItem Volume::fileItem(const Node* n, int entry) {
    FolderItem item;
    item.size = n != nullptr && n->held ? wholeRecords(n->content.size()) : imageSize(entry);
    item.stored = blocksFor(item.size) * BLOCK_SIZE;
    item.writable = (attributeBits(n, entry) & READ_ONLY) == 0;
    item.modified = modified_;
    item.owner = owner_;
    return item;
}

FolderItem Volume::folderItem(int subfolders) const {
    FolderItem item;
    item.folder = true;
    item.links = 2 + static_cast<std::uint32_t>(subfolders);
    item.modified = modified_;
    item.owner = owner_;
    return item;
}

FolderError Volume::stat(const std::string& path, FolderItem* item) {
    Found f;
    const FolderError e = findFile(path, &f);
    if (e == FolderError::IsFolder) {
        *item = folderItem(f.place.kind == Place::Root ? static_cast<int>(areas_.count()) - 1 : 0);
        return FolderError::None;
    }
    if (e == FolderError::None) *item = fileItem(f.node, f.entry);
    return e;
}

FolderError Volume::statOpen(FolderHandle handle, FolderItem* item) {
    const OpenFile* of = openFile(handle);
    if (of == nullptr) return FolderError::NotFound;
    const Node* n = of->node;
    *item = fileItem(n, shownEntry(*n));
    return FolderError::None;
}

FolderError Volume::list(const std::string& path, std::vector<std::pair<std::string, FolderItem>>* items) {
    Found f;
    const FolderError found = findFile(path, &f);
    if (found != FolderError::IsFolder) return found == FolderError::None ? FolderError::NotFolder : found;
    const Place& p = f.place;
    items->clear();
    if (p.kind == Place::Root) {
        for (int area = 1; area < USER_AREAS; ++area)
            if (areaExists(area)) items->emplace_back(areaFolderName(area), folderItem(0));
    }
    // The names listed so far: a file's second entry adds none. Kept here, the names are read once
    // for the listing instead of once for each entry against every other.
    std::set<std::string> listed;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = s_.entryAt(i);
        if (e[entry::USER] != p.area || e[entry::EXTENT] > 1) continue;
        std::string name;
        const CpmName cpm = shownNameOf(e, &name);
        if (!listed.insert(std::string(cpm.chars, NAME_TYPE_SIZE)).second) continue;
        items->emplace_back(name, fileItem(liveNode(p.area, cpm.chars), i));
    }
    for (const Node& n : nodes_) {
        if (n.onImage || n.removed || n.area != p.area) continue;
        items->emplace_back(shownName(n.name), fileItem(&n, -1));
    }
    return FolderError::None;
}

// ---- Folders -------------------------------------------------------------------------------

FolderError Volume::writable() const {
    if (readOnly_) return FolderError::ReadOnly;
    return broken_ ? FolderError::Io : FolderError::None;
}

FolderError Volume::makeFolder(const std::string& path) {
    if (const FolderError e = writable(); e != FolderError::None) return e;
    const Place p = placeOf(path);
    if (p.kind != Place::Area) return FolderError::NotPermitted;  // only user areas are folders
    if (areaExists(p.area)) return FolderError::Exists;
    areas_.set(static_cast<std::size_t>(p.area));
    return FolderError::None;
}

FolderError Volume::removeFolder(const std::string& path) {
    if (const FolderError e = writable(); e != FolderError::None) return e;
    const Place p = placeOf(path);
    if (p.kind == Place::File) return FolderError::NotFolder;
    if (p.kind != Place::Area) return FolderError::NotPermitted;
    if (!areaExists(p.area)) return FolderError::NotFound;
    if (areaHoldsFiles(p.area)) return FolderError::NotEmpty;
    areas_.reset(static_cast<std::size_t>(p.area));
    return FolderError::None;
}

// ---- Files: opening, reading and writing ------------------------------------------------------

FolderError Volume::create(const std::string& path, bool writable, FolderHandle* handle) {
    if (const FolderError e = this->writable(); e != FolderError::None) return e;
    const Place p = placeOf(path);
    if (p.kind == Place::Root) return FolderError::Exists;
    // "u1" to "u15" name the folders of the user areas, made or not; a file of area 0 of that
    // name is "U1".
    if (p.kind == Place::Area) return areaExists(p.area) ? FolderError::Exists : FolderError::Invalid;
    if (p.kind != Place::File || !areaExists(p.area)) return FolderError::NotFound;
    if (!p.validName) return FolderError::Invalid;
    if (liveNode(p.area, p.name) != nullptr || shownEntry(p.area, p.name) >= 0) return FolderError::Exists;
    // Every file takes an entry, also an empty one; files made and not yet placed have a claim on one.
    if (countFreeEntries(s_) - pendingNewFiles() < 1) return FolderError::NoSpace;
    Node* n = newNode(p);
    n->onImage = false;
    n->held = n->changed = true;
    n->readOnly = !writable;
    *handle = handOut(n, true);
    return FolderError::None;
}

FolderError Volume::open(const std::string& path, bool write, bool truncate, FolderHandle* handle) {
    Found f;
    if (const FolderError e = findFile(path, &f); e != FolderError::None) return e;
    Node* n = nodeFor(f);
    FolderError refusal = FolderError::None;
    if (write) refusal = writable();
    // CP/M refuses to write a read-only file, whoever asks.
    if (write && refusal == FolderError::None && (attributeBits(n, shownEntry(*n)) & READ_ONLY))
        refusal = FolderError::Denied;
    if (refusal != FolderError::None) {
        dropIfUnused(n);
        return refusal;
    }
    if (write && truncate) {
        // The old bytes stay on the image until the new ones are placed: an open that empties
        // the file and a crash before its close leave the old file whole.
        n->content.clear();
        n->held = n->changed = true;
        n->failure = FolderError::None;
    }
    *handle = handOut(n, write);
    return FolderError::None;
}

FolderError Volume::readImage(int entry, std::uint64_t offset, std::uint8_t* buffer, std::size_t n,
                              std::size_t* done) {
    *done = 0;
    std::uint64_t at = 0;  // where the run in hand starts in the file
    FileWalk walk = beginWalk(s_.directory, keyOf(s_, entry));
    for (BlockRun run; *done < n && nextRun(walk, &run); at += run.records * RECORD_SIZE) {
        const std::uint64_t length = static_cast<std::uint64_t>(run.records) * RECORD_SIZE;
        const std::uint64_t want = offset + *done;
        if (want >= at + length) continue;
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(at + length - want, n - *done));
        if (!readImageAt(s_, blockOffset(run.block) + (want - at), buffer + *done, part))
            return FolderError::Io;
        *done += part;
    }
    return FolderError::None;
}

FolderError Volume::read(FolderHandle handle, std::uint64_t offset, void* buffer, std::size_t n,
                         std::size_t* done) {
    const OpenFile* of = openFile(handle);
    if (of == nullptr) return FolderError::NotFound;
    const Node* node = of->node;
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!node->held) return readImage(shownEntry(*node), offset, out, n, done);
    *done = 0;
    // A file being written shows as it will be placed: its last record filled up with zeros.
    const std::uint64_t size = wholeRecords(node->content.size());
    if (offset < size) {
        *done = static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, n));
        const std::size_t held =
            offset < node->content.size() ? std::min(node->content.size() - offset, *done) : 0;
        if (held > 0) std::memcpy(out, node->content.data() + offset, held);
        std::memset(out + held, 0, *done - held);
    }
    return FolderError::None;
}

FolderError Volume::hold(Node& n) {
    if (n.held) return FolderError::None;
    const int e = shownEntry(n);
    n.content.assign(e >= 0 ? imageSize(e) : 0, 0);
    std::size_t done = 0;
    if (e >= 0) {
        if (const FolderError err = readImage(e, 0, n.content.data(), n.content.size(), &done);
            err != FolderError::None) {
            n.content.clear();
            return err;
        }
    }
    n.held = true;
    return FolderError::None;
}

FolderError Volume::write(FolderHandle handle, std::uint64_t offset, const void* data, std::size_t n) {
    OpenFile* of = openFile(handle);
    if (of == nullptr || !of->write) return FolderError::Denied;
    Node& node = *of->node;
    const FolderError e = offset > MOST_BYTES || n > MOST_BYTES - offset ? FolderError::NoSpace : hold(node);
    // A write that did not happen would leave a gap in what the close places: the whole change is
    // given up instead, and the file keeps what it held.
    if (e != FolderError::None) return node.failure = e;
    if (node.content.size() < offset + n) node.content.resize(static_cast<std::size_t>(offset + n), 0);
    if (n > 0) std::memcpy(node.content.data() + offset, data, n);
    node.changed = true;
    return FolderError::None;
}

FolderError Volume::resize(const std::string& path, const FolderHandle* handle, std::uint64_t size) {
    Node* n = nullptr;
    if (handle != nullptr) {
        const OpenFile* of = openFile(*handle);
        if (of == nullptr || !of->write) return FolderError::Denied;
        n = of->node;
    } else {
        if (const FolderError e = writable(); e != FolderError::None) return e;
        Found f;
        if (const FolderError e = findFile(path, &f); e != FolderError::None) return e;
        if (attributeBits(f.node, f.entry) & READ_ONLY) return FolderError::Denied;
        n = nodeFor(f);
    }
    FolderError e = size > MOST_BYTES ? FolderError::NoSpace : hold(*n);
    if (e == FolderError::None) {
        n->content.resize(static_cast<std::size_t>(size), 0);
        n->changed = true;
        // A truncate by name is whole in itself: nothing will close it.
        if (handle == nullptr) e = settle(*n);
    } else if (handle != nullptr) {
        n->failure = e;
    }
    if (handle == nullptr) dropIfUnused(n);
    return e;
}

FolderError Volume::flush(FolderHandle handle) {
    OpenFile* of = openFile(handle);
    if (of == nullptr) return FolderError::NotFound;
    return of->write ? settle(*of->node) : FolderError::None;
}

void Volume::release(FolderHandle handle) {
    OpenFile* of = openFile(handle);
    if (of == nullptr) return;
    Node* n = of->node;
    const bool wrote = of->write;
    handles_.erase(handle);
    --n->opens;
    // Only a handle that could write puts the file on the image: a reader that closes while
    // another process is still writing the file must not place what is there so far, which a
    // power cut would then leave half new. Bytes written after the last flush (through a mapping,
    // say) still go to the image; a change whose placing failed and was reported is given up, and
    // the file keeps what it held: other handles read the image again, and a new file that never
    // got there is gone.
    if (wrote && n->failure == FolderError::None) {
        settle(*n);
    } else if (wrote) {
        n->removed = !n->onImage;
        n->held = n->removed;
        n->changed = false;
        n->failure = FolderError::None;
        if (!n->held) n->content.clear();
    }
    dropIfUnused(n);
}

void Volume::unmounting() {
    for (Node& n : nodes_) settle(n);
}

// ---- Putting changes on the image ------------------------------------------------------------

FolderError Volume::saveChanged(const std::uint8_t* before) {
    if (std::memcmp(before, s_.directory, DIRECTORY_SIZE) == 0) return FolderError::None;
    if (!saveDirectory(s_)) {
        // What reached the disk is unknown now: the old directory stays the one in hand, and
        // nothing more is written.
        std::memcpy(s_.directory, before, DIRECTORY_SIZE);
        mapDirectory(s_);
        broken_ = true;
        return FolderError::Io;
    }
    // Only now are the blocks the old directory named free for others.
    if (!mapDirectory(s_)) broken_ = true;
    modified_ = s_.env.modificationTime(s_.imageHandle).valueOr(modified_);
    return FolderError::None;
}

FolderError Volume::settle(Node& n) {
    if (!n.changed || n.removed) return FolderError::None;
    if (n.failure == FolderError::None) n.failure = place(n);
    return n.failure;
}

FolderError Volume::place(Node& n) {
    if (broken_) return FolderError::Io;
    std::uint8_t before[DIRECTORY_SIZE];
    std::memcpy(before, s_.directory, DIRECTORY_SIZE);
    auto giveUp = [&](FolderError why) {
        std::memcpy(s_.directory, before, DIRECTORY_SIZE);
        mapDirectory(s_);
        return why;
    };

    // The new version keeps the old one's user byte, name and attributes. Its entries leave the
    // directory in hand, but their blocks stay taken in the map: the new bytes go elsewhere.
    std::uint8_t key[KEY_SIZE] = {static_cast<std::uint8_t>(n.area)};
    std::memcpy(key + entry::NAME, n.name, NAME_TYPE_SIZE);
    if (n.readOnly) key[READ_ONLY_BYTE] |= ATTRIBUTE_BIT;
    if (const int shown = shownEntry(n); shown >= 0) {
        std::memcpy(key, openingEntry(shown), KEY_SIZE);
        freeEntries(s_, keyOf(s_, shown));
    }
    const std::uint64_t size = n.content.size();
    if (entriesFor(size) > static_cast<std::uint64_t>(countFreeEntries(s_)) ||
        blocksFor(size) > static_cast<std::uint64_t>(countFreeBlocks(s_)))
        return giveUp(FolderError::NoSpace);

    Placement p;
    beginPlacement(s_, p, key);
    for (std::uint64_t at = 0; at < size; at += BLOCK_SIZE) {
        const std::uint8_t b = placeBlock(s_, p);
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, BLOCK_SIZE));
        std::memcpy(blankBlock(s_), n.content.data() + at, part);
        if (!writeFileBlock(s_, b)) {
            // Blocks no directory on the disk names: nothing to undo there.
            if (s_.flushFailed) broken_ = true;
            return giveUp(FolderError::Io);
        }
    }
    endPlacement(s_, p, recordsFor(size));
    if (const FolderError e = saveChanged(before); e != FolderError::None) return e;
    n.content.resize(static_cast<std::size_t>(wholeRecords(size)), 0);
    n.onImage = true;
    n.changed = false;
    return FolderError::None;
}

// ---- Names: erasing and renaming ---------------------------------------------------------------

FolderError Volume::remove(const std::string& path) {
    if (const FolderError e = writable(); e != FolderError::None) return e;
    Found f;
    if (const FolderError e = findFile(path, &f); e != FolderError::None) return e;
    Node* n = f.node;
    const int shown = f.entry;
    if (attributeBits(n, shown) & READ_ONLY) return FolderError::Denied;
    if (n != nullptr) {
        // Open handles keep reading and writing the file after its name is gone, from memory.
        if (const FolderError e = hold(*n); e != FolderError::None) return e;
        n->removed = true;
    }
    if (shown < 0) return FolderError::None;  // made here and never placed
    std::uint8_t before[DIRECTORY_SIZE];
    std::memcpy(before, s_.directory, DIRECTORY_SIZE);
    freeEntries(s_, keyOf(s_, shown));
    const FolderError e = saveChanged(before);
    if (e != FolderError::None && n != nullptr) n->removed = false;
    return e;
}

FolderError Volume::rename(const std::string& from, const std::string& to, bool replace) {
    if (const FolderError e = writable(); e != FolderError::None) return e;
    Found f;
    const FolderError found = findFile(from, &f);
    // User areas are not renamed: their folders stand for numbers.
    if (found != FolderError::None) return found == FolderError::IsFolder ? FolderError::NotPermitted : found;
    const Place pt = placeOf(to);
    if (pt.kind == Place::Root || pt.kind == Place::Area) return FolderError::IsFolder;
    if (pt.kind != Place::File || !areaExists(pt.area)) return FolderError::NotFound;
    if (!pt.validName) return FolderError::Invalid;
    const Place& pf = f.place;
    Node* nf = f.node;
    if (attributeBits(nf, f.entry) & READ_ONLY) return FolderError::Denied;
    // A rename moves what is on the image: a file still to be placed goes there first.
    if (nf != nullptr) {
        if (const FolderError e = settle(*nf); e != FolderError::None) return e;
    }
    const int source = shownEntry(pf.area, pf.name);
    const int target = shownEntry(pt.area, pt.name);
    Node* nt = liveNode(pt.area, pt.name);
    // The same file under another spelling: nothing to change.
    if (target == source || (nt != nullptr && nt == nf)) return FolderError::None;
    if (target >= 0 || nt != nullptr) {
        if (!replace) return FolderError::Exists;
        if (attributeBits(nt, target) & READ_ONLY) return FolderError::Denied;
        if (nt != nullptr) {
            if (const FolderError e = hold(*nt); e != FolderError::None) return e;
            nt->removed = true;
        }
    }

    std::uint8_t before[DIRECTORY_SIZE];
    std::memcpy(before, s_.directory, DIRECTORY_SIZE);
    // The file replaced and the new name go in one write of the directory: after a power cut the
    // target name holds either file whole.
    if (target >= 0) freeEntries(s_, keyOf(s_, target));
    const FileKey key = keyOf(s_, source);
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        std::uint8_t* e = s_.entryAt(i);
        if (!ofFile(e, key)) continue;
        e[entry::USER] = static_cast<std::uint8_t>((e[entry::USER] & ATTRIBUTE_BIT) | pt.area);
        for (std::size_t k = 0; k < NAME_TYPE_SIZE; ++k)
            e[entry::NAME + k] = static_cast<std::uint8_t>((e[entry::NAME + k] & ATTRIBUTE_BIT) | pt.name[k]);
    }
    if (const FolderError e = saveChanged(before); e != FolderError::None) {
        if (nt != nullptr) nt->removed = false;
        return e;
    }
    if (nf != nullptr) {
        nf->area = pt.area;
        std::memcpy(nf->name, pt.name, NAME_TYPE_SIZE);
    }
    return FolderError::None;
}

// ---- Attributes, modes, owners and times ------------------------------------------------------

FolderError Volume::setAttributeBits(const Found& f, std::uint8_t bits) {
    if (const FolderError e = writable(); e != FolderError::None) return e;
    if (bits == attributeBits(f.node, f.entry)) return FolderError::None;
    // The bits are set on the image: a file still to be placed goes there first.
    if (f.node != nullptr) {
        if (const FolderError e = settle(*f.node); e != FolderError::None) return e;
    }
    const int shown = shownEntry(f.place.area, f.place.name);
    if (shown < 0) return FolderError::NotFound;
    std::uint8_t before[DIRECTORY_SIZE];
    std::memcpy(before, s_.directory, DIRECTORY_SIZE);
    // CP/M sets a file's attributes in every entry of it.
    const FileKey key = keyOf(s_, shown);
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        std::uint8_t* e = s_.entryAt(i);
        if (!ofFile(e, key)) continue;
        e[READ_ONLY_BYTE] = static_cast<std::uint8_t>(
            (bits & READ_ONLY) ? e[READ_ONLY_BYTE] | ATTRIBUTE_BIT : e[READ_ONLY_BYTE] & ~ATTRIBUTE_BIT);
        e[SYSTEM_BYTE] = static_cast<std::uint8_t>((bits & SYSTEM) ? e[SYSTEM_BYTE] | ATTRIBUTE_BIT
                                                                   : e[SYSTEM_BYTE] & ~ATTRIBUTE_BIT);
    }
    return saveChanged(before);
}

FolderError Volume::setMode(const std::string& path, std::uint32_t mode) {
    Found f;
    const FolderError e = findFile(path, &f);
    // Folders have no mode of their own to keep: a change is taken and has no effect.
    if (e == FolderError::IsFolder) return writable();
    if (e != FolderError::None) return e;
    // No write bit at all makes the file read-only; any write bit makes it writable again.
    const std::uint8_t bits = attributeBits(f.node, f.entry);
    return setAttributeBits(f, (mode & WRITE_BITS) == 0 ? bits | READ_ONLY : bits & ~READ_ONLY);
}

FolderError Volume::setOwner(const std::string& path, std::uint32_t user, std::uint32_t group) {
    Found f;
    if (const FolderError e = findFile(path, &f); e != FolderError::None && e != FolderError::IsFolder)
        return e;
    if (const FolderError e = writable(); e != FolderError::None) return e;
    const bool sameUser = user == SAME_OWNER || user == owner_.user;
    const bool sameGroup = group == SAME_OWNER || group == owner_.group;
    return sameUser && sameGroup ? FolderError::None : FolderError::NotPermitted;
}

FolderError Volume::setTimes(const std::string& path) {
    // The image keeps no times: every file shows the image's own. Taking the change lets copies
    // that keep times (cp -p, rsync -t) go through.
    Found f;
    if (const FolderError e = findFile(path, &f); e != FolderError::None && e != FolderError::IsFolder)
        return e;
    return writable();
}

FolderError Volume::getAttribute(const std::string& path, const std::string& name, std::string* value) {
    Found f;
    const FolderError e = findFile(path, &f);
    if (e == FolderError::IsFolder) return FolderError::NoAttribute;
    if (e != FolderError::None) return e;
    if (name != ATTRIBUTES_NAME) return FolderError::NoAttribute;
    const std::uint8_t bits = attributeBits(f.node, f.entry);
    value->clear();
    if (bits & READ_ONLY) *value += 'R';
    if (bits & SYSTEM) *value += 'S';
    return FolderError::None;
}

FolderError Volume::setAttribute(const std::string& path, const std::string& name, const std::string& value,
                                 bool mustBeNew, bool) {
    Found f;
    const FolderError e = findFile(path, &f);
    if (e == FolderError::IsFolder) return FolderError::NotSupported;
    if (e != FolderError::None) return e;
    if (name != ATTRIBUTES_NAME) return FolderError::NotSupported;
    // Every file has the attribute, empty or not: it can be replaced, never made anew.
    if (mustBeNew) return FolderError::Exists;
    std::uint8_t bits = 0;
    for (const char c : value) {
        const std::uint8_t bit = c == 'R' ? READ_ONLY : c == 'S' ? SYSTEM : 0;
        if (bit == 0 || (bits & bit)) return FolderError::Invalid;
        bits |= bit;
    }
    return setAttributeBits(f, bits);
}

FolderError Volume::listAttributes(const std::string& path, std::vector<std::string>* names) {
    Found f;
    const FolderError e = findFile(path, &f);
    names->clear();
    if (e == FolderError::IsFolder) return FolderError::None;
    if (e != FolderError::None) return e;
    names->push_back(ATTRIBUTES_NAME);
    return FolderError::None;
}

FolderError Volume::removeAttribute(const std::string& path, const std::string& name) {
    Found f;
    const FolderError e = findFile(path, &f);
    if (e == FolderError::IsFolder) return FolderError::NoAttribute;
    if (e != FolderError::None) return e;
    if (name != ATTRIBUTES_NAME) return FolderError::NoAttribute;
    return setAttributeBits(f, 0);
}

FolderError Volume::space(FolderSpace* space) {
    space->blockSize = BLOCK_SIZE;
    space->blocks = BLOCK_COUNT;
    space->freeBlocks = static_cast<std::uint64_t>(countFreeBlocks(s_));
    space->files = DIRECTORY_ENTRIES;
    space->freeFiles = static_cast<std::uint64_t>(std::max(0, countFreeEntries(s_) - pendingNewFiles()));
    space->nameMax = static_cast<std::uint32_t>(NAME_TEXT_SIZE);
    return FolderError::None;
}

}  // namespace z18
