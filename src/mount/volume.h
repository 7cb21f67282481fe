// An image as a folder: the answers to the folder operations, on the image store. User area 0 is
// the top of the folder and every other area that holds a file is a folder u1 ... u15 in it; the
// files are what z18man's catalogue lists, with the bytes its extract writes.
//
// The directory is read once, when the image is opened, and kept: the image is held locked for
// as long as the folder is mounted, so nothing else changes it. A file being written is kept in
// memory until it is flushed (a close or an fsync); it then goes to the image as a new version
// in blocks that were free, and one write of the directory puts it in place of the old one, so a
// power cut leaves either version whole.
#pragma once

#include <bitset>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "host/fuse_serve.h"
#include "session/session.h"

namespace z18 {

constexpr int USER_AREAS = 16;
// The extended attribute that holds a file's CP/M attributes: R (read-only) and S (system).
constexpr const char* ATTRIBUTES_NAME = "user.cpm.attributes";

class Volume final : public FolderOps {
public:
    // s holds the open image (s.imageHandle) with its directory loaded.
    Volume(Session& s, bool readOnly, FolderOwner owner);

    FolderError stat(const std::string& path, FolderItem* item) override;
    FolderError statOpen(FolderHandle handle, FolderItem* item) override;
    FolderError list(const std::string& path,
                     std::vector<std::pair<std::string, FolderItem>>* items) override;
    FolderError makeFolder(const std::string& path) override;
    FolderError removeFolder(const std::string& path) override;
    FolderError remove(const std::string& path) override;
    FolderError rename(const std::string& from, const std::string& to, bool replace) override;
    FolderError create(const std::string& path, bool writable, FolderHandle* handle) override;
    FolderError open(const std::string& path, bool write, bool truncate, FolderHandle* handle) override;
    FolderError read(FolderHandle handle, std::uint64_t offset, void* buffer, std::size_t n,
                     std::size_t* done) override;
    FolderError write(FolderHandle handle, std::uint64_t offset, const void* data, std::size_t n) override;
    FolderError resize(const std::string& path, const FolderHandle* handle, std::uint64_t size) override;
    FolderError flush(FolderHandle handle) override;
    void release(FolderHandle handle) override;
    FolderError setMode(const std::string& path, std::uint32_t mode) override;
    FolderError setOwner(const std::string& path, std::uint32_t user, std::uint32_t group) override;
    FolderError setTimes(const std::string& path) override;
    FolderError getAttribute(const std::string& path, const std::string& name, std::string* value) override;
    FolderError setAttribute(const std::string& path, const std::string& name, const std::string& value,
                             bool mustBeNew, bool mustExist) override;
    FolderError listAttributes(const std::string& path, std::vector<std::string>* names) override;
    FolderError removeAttribute(const std::string& path, const std::string& name) override;
    FolderError space(FolderSpace* space) override;
    void unmounting() override;

private:
    // Where a path leads.
    struct Place {
        enum Kind { Root, Area, File, Nowhere } kind = Nowhere;
        int area = 0;
        bool validName = false;          // a file: the name is a valid CP/M name
        char name[NAME_TYPE_SIZE] = {};  // a file: its 8.3 name, upper case, space-filled
    };
    // A file while something holds it open, or a new one not yet on the image.
    struct Node {
        int area = 0;
        char name[NAME_TYPE_SIZE] = {};
        bool onImage = true;   // false: made here and not placed yet
        bool removed = false;  // erased or replaced while open: only its handles still see it
        bool held = false;     // `content` holds its bytes; otherwise they are read from the image
        bool changed = false;  // `content` differs from the image
        FolderError failure = FolderError::None;  // why the change could not be placed: it is given up
        bool readOnly = false;                    // a new file made write-protected
        int opens = 0;
        std::vector<std::uint8_t> content;
    };
    // A file a path names, where it exists: its live node, and the entry that shows it on the image.
    struct Found {
        Place place;
        Node* node = nullptr;
        int entry = -1;
    };
    struct OpenFile {
        Node* node = nullptr;
        bool write = false;
    };

    Place placeOf(const std::string& path);
    // NotFound where the path names nothing, IsFolder where it names a folder.
    FolderError findFile(const std::string& path, Found* f);
    // The entry that shows a file of the area under a name (the first the catalogue lists), or -1.
    int shownEntry(int area, const char* name) const;
    int shownEntry(const Node& n) const { return n.removed ? -1 : shownEntry(n.area, n.name); }
    Node* liveNode(int area, const char* name);
    bool areaExists(int area) const { return areas_.test(static_cast<std::size_t>(area)); }
    bool areaHoldsFiles(int area);
    int pendingNewFiles() const;
    // A new node for the file of a place, open nowhere yet.
    Node* newNode(const Place& p);
    // The file found, as a node: the live one, or a new one for a file on the image.
    Node* nodeFor(const Found& f);
    // A new handle on the node, which counts it as one more open.
    FolderHandle handOut(Node* n, bool write);
    void dropIfUnused(Node* n);
    FolderItem fileItem(const Node* n, int entry);
    FolderItem folderItem(int subfolders) const;
    std::uint64_t imageSize(int entry) const;
    // The entry of the file shown through `entry` that CP/M opens it by, whose attributes it has:
    // its first extent's, or `entry` itself where no entry holds that extent.
    const std::uint8_t* openingEntry(int entry) const;
    std::uint8_t attributeBits(const Node* n, int entry) const;
    OpenFile* openFile(FolderHandle handle);

    // Reads bytes of the file that shows through entry from the image.
    FolderError readImage(int entry, std::uint64_t offset, std::uint8_t* buffer, std::size_t n,
                          std::size_t* done);
    // Reads the file's bytes into its content, where they are not there yet.
    FolderError hold(Node& n);
    // Puts a changed or new file on the image, unless its change was given up: the error that
    // gave it up, or that placing it gives.
    FolderError settle(Node& n);
    // The file's content as a new version in blocks that are free now, written and flushed, then
    // one write of the directory in place of the old version's entries, flushed.
    FolderError place(Node& n);
    // Gives the file its R and S bits, in every entry of it.
    FolderError setAttributeBits(const Found& f, std::uint8_t bits);
    // Writes the directory as changed since `before` and maps it again; puts `before` back where
    // the write fails.
    FolderError saveChanged(const std::uint8_t* before);
    FolderError writable() const;

    Session& s_;
    bool readOnly_;
    FolderOwner owner_;
    bool broken_ = false;  // an image write failed where the disk's state is unknown: no more writes
    FileTime modified_;
    std::bitset<USER_AREAS> areas_;
    std::list<Node> nodes_;
    std::map<FolderHandle, OpenFile> handles_;
    FolderHandle nextHandle_ = 1;
};

}  // namespace z18
