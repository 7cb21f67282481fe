// A host that hands every call to another one. Test hosts that change a few operations (a fault
// here, a record there) derive from it and override just those.
#pragma once

#include "host/env.h"

namespace z18 {

class EnvWrapper : public Env {
public:
    explicit EnvWrapper(Env* base) : base_(base) {}
    Env* base() const { return base_; }

    int openFile(const std::string& path, OpenMode mode) override { return pass().openFile(path, mode); }
    bool closeFile(int handle) override { return pass().closeFile(handle); }
    bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) override {
        return pass().readAt(handle, offset, buffer, n, done);
    }
    bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done) override {
        return pass().writeAt(handle, offset, buffer, n, done);
    }
    bool flush(int handle) override { return pass().flush(handle); }
    bool fileSize(int handle, std::uint64_t* size) override { return pass().fileSize(handle, size); }
    bool modificationTime(int handle, FileTime* time) override {
        return pass().modificationTime(handle, time);
    }
    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override {
        return pass().findFiles(pattern, found);
    }
    void waitKey(const char* prompt) override { pass().waitKey(prompt); }
    std::string executablePath() override { return pass().executablePath(); }
    bool createDirectory(const std::string& path) override { return pass().createDirectory(path); }
    int countDirectoryEntries(const std::string& path) override { return pass().countDirectoryEntries(path); }
    bool pathExists(const std::string& path) override { return pass().pathExists(path); }
    int createNewFile(const std::string& path) override { return pass().createNewFile(path); }
    bool renameNoReplace(const std::string& from, const std::string& to) override {
        return pass().renameNoReplace(from, to);
    }
    bool removeFile(const std::string& path) override { return pass().removeFile(path); }
    HostError lastError() const override { return ownLatest_ ? own_ : base_->lastError(); }

protected:
    // Fails the call in hand, as a derived host decided, with this cause; returns false.
    bool failWith(HostError cause) {
        own_ = cause;
        ownLatest_ = true;
        return false;
    }

private:
    // The base host, which from now on holds the cause of the latest failure.
    Env& pass() {
        ownLatest_ = false;
        return *base_;
    }

    Env* base_;
    HostError own_;
    bool ownLatest_ = false;
};

}  // namespace z18
