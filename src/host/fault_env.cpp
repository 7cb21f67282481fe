#include "host/fault_env.h"

namespace z18 {

namespace {
bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

void FaultEnv::inject(Op op, int nth, Kind kind, const std::string& pathSuffix) {
    Plan plan;
    plan.nth = nth;
    plan.kind = kind;
    plan.suffix = pathSuffix;
    plans_[op] = plan;
}

int FaultEnv::calls(Op op) const {
    auto it = plans_.find(op);
    return it == plans_.end() ? 0 : it->second.count;
}

bool FaultEnv::due(Op op, const std::string& path, Kind* kind) {
    auto it = plans_.find(op);
    if (it == plans_.end()) return false;
    Plan& plan = it->second;
    if (!endsWith(path, plan.suffix)) return false;
    ++plan.count;
    *kind = plan.kind;
    return plan.count == plan.nth;
}

int FaultEnv::openFile(const std::string& path, OpenMode mode) {
    Kind kind;
    if (due(Op::Open, path, &kind)) return CLOSED_HANDLE;
    const int handle = base_->openFile(path, mode);
    if (handle >= 0) paths_[handle] = path;
    return handle;
}

void FaultEnv::closeFile(int handle) {
    paths_.erase(handle);
    base_->closeFile(handle);
}

bool FaultEnv::read(int handle, void* buffer, std::size_t n, std::size_t* done) {
    Kind kind;
    if (due(Op::Read, paths_[handle], &kind)) {
        if (kind == Kind::Fail || n == 0) {
            *done = 0;
            return false;
        }
        return base_->read(handle, buffer, n - 1, done);
    }
    return base_->read(handle, buffer, n, done);
}

bool FaultEnv::write(int handle, const void* buffer, std::size_t n, std::size_t* done) {
    Kind kind;
    if (due(Op::Write, paths_[handle], &kind)) {
        if (kind == Kind::Fail || n == 0) {
            *done = 0;
            return false;
        }
        return base_->write(handle, buffer, n - 1, done);
    }
    return base_->write(handle, buffer, n, done);
}

}  // namespace z18
