#include "support/fault_env.h"

namespace z18 {

namespace {
const HostStatus kInjected(HostError{HostErrorKind::Io, 0});  // the device failed

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

void FaultEnv::inject(Op op, int nth, Kind kind, const std::string& pathSuffix) {
    Plan& plan = plans_[static_cast<int>(op)];
    plan.planned = true;
    plan.nth = nth;
    plan.kind = kind;
    plan.suffix = pathSuffix;
    plan.count = 0;
}

int FaultEnv::calls(Op op) const { return plans_[static_cast<int>(op)].count; }

bool FaultEnv::due(Op op, const std::string& path, Kind* kind) {
    Plan& plan = plans_[static_cast<int>(op)];
    if (!plan.planned) return false;
    if (!endsWith(path, plan.suffix)) return false;
    ++plan.count;
    if (kind != nullptr) *kind = plan.kind;
    return plan.count == plan.nth;
}

bool FaultEnv::due(Op op, int handle, Kind* kind) {
    if (!plans_[static_cast<int>(op)].planned) return false;
    auto it = paths_.find(handle);
    return due(op, it == paths_.end() ? std::string() : it->second, kind);
}

HostResult<int> FaultEnv::remember(HostResult<int> handle, const std::string& path) {
    if (handle.ok()) paths_[handle.value()] = path;
    return handle;
}

HostResult<int> FaultEnv::openFile(const std::string& path, OpenMode mode) {
    if (due(Op::Open, path)) return kInjected;
    return remember(EnvWrapper::openFile(path, mode), path);
}

HostResult<int> FaultEnv::createNewFile(const std::string& path) {
    if (due(Op::Open, path)) return kInjected;
    return remember(EnvWrapper::createNewFile(path), path);
}

HostStatus FaultEnv::closeFile(int handle) {
    paths_.erase(handle);
    return EnvWrapper::closeFile(handle);
}

bool FaultEnv::passOn(Op op, int handle, std::size_t* n, std::size_t* done) {
    Kind kind;
    if (!due(op, handle, &kind)) return true;
    if (kind == Kind::Fail || *n == 0) {
        *done = 0;
        return false;
    }
    --*n;
    return true;
}

HostStatus FaultEnv::readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                            std::size_t* done) {
    if (!passOn(Op::Read, handle, &n, done)) return kInjected;
    return EnvWrapper::readAt(handle, offset, buffer, n, done);
}

HostStatus FaultEnv::writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                             std::size_t* done) {
    if (!passOn(Op::Write, handle, &n, done)) return kInjected;
    return EnvWrapper::writeAt(handle, offset, buffer, n, done);
}

HostStatus FaultEnv::flush(int handle) {
    if (due(Op::Flush, handle)) return kInjected;
    return EnvWrapper::flush(handle);
}

HostStatus FaultEnv::createDirectory(const std::string& path) {
    if (due(Op::MakeFolder, path)) return kInjected;
    return EnvWrapper::createDirectory(path);
}

}  // namespace z18
