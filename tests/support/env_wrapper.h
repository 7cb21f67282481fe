// A host that hands every call to another one. Test hosts that change a few operations (a fault
// here, a record there) derive from it and override just those.
#pragma once

#include "host/env.h"

namespace z18 {

class EnvWrapper : public Env {
public:
    explicit EnvWrapper(Env* base) : base_(base) {}
    Env* base() const { return base_; }

    HostResult<int> openFile(const std::string& path, OpenMode mode) override {
        return base_->openFile(path, mode);
    }
    HostStatus closeFile(int handle) override { return base_->closeFile(handle); }
    HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                      std::size_t* done) override {
        return base_->readAt(handle, offset, buffer, n, done);
    }
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override {
        return base_->writeAt(handle, offset, buffer, n, done);
    }
    HostStatus flush(int handle) override { return base_->flush(handle); }
    HostResult<std::uint64_t> fileSize(int handle) override { return base_->fileSize(handle); }
    HostResult<FileTime> modificationTime(int handle) override { return base_->modificationTime(handle); }
    HostResult<std::vector<FoundEntry>> findFiles(const std::string& pattern) override {
        return base_->findFiles(pattern);
    }
    void waitKey(const char* prompt) override { base_->waitKey(prompt); }
    std::string executablePath() override { return base_->executablePath(); }
    HostStatus createDirectory(const std::string& path) override { return base_->createDirectory(path); }
    HostResult<int> countDirectoryEntries(const std::string& path) override {
        return base_->countDirectoryEntries(path);
    }
    HostResult<bool> pathExists(const std::string& path) override { return base_->pathExists(path); }
    HostResult<int> createNewFile(const std::string& path) override { return base_->createNewFile(path); }
    HostStatus renameNoReplace(const std::string& from, const std::string& to) override {
        return base_->renameNoReplace(from, to);
    }
    HostStatus removeFile(const std::string& path) override { return base_->removeFile(path); }

private:
    Env* base_;
};

}  // namespace z18
