// SPDX-License-Identifier: GPL-3.0-or-later
// The real file system with faults and hooks, installed for as long as it lives.
#pragma once

#include "sidecar/internal/FileSystem.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace meridane::testing {

/// The call named `failing` fails with `code` from its `after`-th use on;
/// every write takes half its bytes (the save must finish short writes);
/// `afterSync` runs after each flush of the temporary file, `afterStatus`
/// once after the stat(2) of the sidecar's path that ends the check before
/// the replacement; `coarseClock` gives every time stamp the same value, as a
/// file system whose clock did not tick; `calls` notes each replacement.
struct TestFileSystem : sidecar::FileSystem {
    std::string failing;
    int code = 0, after = 0;
    std::optional<Result<std::optional<std::uint64_t>>> capacity;  ///< what the volume reports, when set
    std::function<void(int fd)> afterSync;
    std::function<void()> afterStatus;
    std::function<Status()> setOwnerResult;
    bool coarseClock = false;
    bool noExchange = false;  ///< a file system that cannot swap two names
    bool noMarks = false;     ///< a file system without user attributes
    std::vector<std::string>* calls = nullptr;
    sidecar::ScopedFileSystemOverride installed{*this};

    Status fault(const char* call) {
        if (failing == call && after-- <= 0)
            return sidecar::systemError(code);
        return Done{};
    }
    Result<sidecar::FileInfo> coarse(Result<sidecar::FileInfo> info) const {
        if (info && coarseClock)
            info.value().modifiedNs = info.value().changedNs = 0;
        return info;
    }
    Result<std::optional<std::uint64_t>> availableCapacity(int folder) override {
        return capacity ? *capacity : FileSystem::availableCapacity(folder);
    }
    Result<std::size_t> write(int fd, std::string_view bytes) override {
        if (Status s = fault("write"); !s)
            return s.error();
        return FileSystem::write(fd, bytes.substr(0, std::max<size_t>(1, bytes.size() / 2)));
    }
    Status sync(int fd) override {
        if (Status s = fault("sync"); !s)
            return s;
        Status synced = FileSystem::sync(fd);
        if (afterSync)
            afterSync(fd);
        return synced;
    }
    Result<sidecar::FileInfo> statusAt(int folder, const std::string& name) override {
        return coarse(FileSystem::statusAt(folder, name));
    }
    Result<sidecar::FileInfo> statusOf(int fd) override { return coarse(FileSystem::statusOf(fd)); }
    Result<sidecar::FileInfo> status(const std::filesystem::path& path) override {
        auto info = coarse(FileSystem::status(path));
        if (afterStatus)
            std::exchange(afterStatus, {})();
        return info;
    }
    Status setOwner(int fd, uid_t owner, gid_t group) override {
        return setOwnerResult ? setOwnerResult() : FileSystem::setOwner(fd, owner, group);
    }
    Status renameAt(int folder, const std::string& from, const std::string& to) override {
        if (Status s = fault("rename"); !s)
            return s;
        if (calls)
            calls->push_back("replace");
        return FileSystem::renameAt(folder, from, to);
    }
    Status exchangeAt(int folder, const std::string& first, const std::string& second) override {
        if (noExchange)
            return sidecar::systemError(EINVAL);
        if (Status s = fault("exchange"); !s)
            return s;
        if (calls)
            calls->push_back("replace");
        return FileSystem::exchangeAt(folder, first, second);
    }
    Status markTemporary(int fd) override {
        return noMarks ? Status(sidecar::systemError(ENOTSUP)) : FileSystem::markTemporary(fd);
    }
    Result<bool> isMarkedTemporary(int fd) override {
        return noMarks ? Result<bool>(sidecar::systemError(ENOTSUP)) : FileSystem::isMarkedTemporary(fd);
    }
};

}  // namespace meridane::testing
