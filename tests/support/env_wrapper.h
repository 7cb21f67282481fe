// A host that hands every call to another one. Test hosts that change a few operations (a fault
// here, a record there) derive from it and override just those.
#pragma once

#include "host/env.h"

namespace z18 {

class EnvWrapper : public Env {
public:
    explicit EnvWrapper(Env* base) : base_(base) {}
    Env* base() const { return base_; }

    int openFile(const std::string& path, OpenMode mode) override { return base_->openFile(path, mode); }
    void closeFile(int handle) override { base_->closeFile(handle); }
    bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) override {
        return base_->readAt(handle, offset, buffer, n, done);
    }
    bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done) override {
        return base_->writeAt(handle, offset, buffer, n, done);
    }
    bool flush(int handle) override { return base_->flush(handle); }
    bool fileSize(int handle, std::uint64_t* size) override { return base_->fileSize(handle, size); }
    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override {
        return base_->findFiles(pattern, found);
    }
    void waitKey(const char* prompt) override { base_->waitKey(prompt); }
    std::string executablePath() override { return base_->executablePath(); }
    bool createDirectory(const std::string& path) override { return base_->createDirectory(path); }
    int countDirectoryEntries(const std::string& path) override { return base_->countDirectoryEntries(path); }
    bool pathExists(const std::string& path) override { return base_->pathExists(path); }
    int createNewFile(const std::string& path) override { return base_->createNewFile(path); }
    bool renameNoReplace(const std::string& from, const std::string& to) override {
        return base_->renameNoReplace(from, to);
    }
    bool removeFile(const std::string& path) override { return base_->removeFile(path); }

private:
    Env* base_;
};

}  // namespace z18
