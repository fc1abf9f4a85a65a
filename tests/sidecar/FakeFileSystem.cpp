#include "FakeFileSystem.h"

#include <unistd.h>

#include <algorithm>

namespace meridane::testing {

void FakeFileSystem::record(std::string operation, std::filesystem::path path) {
    std::lock_guard lock(mutex_);
    calls_.push_back({std::move(operation), std::move(path), std::this_thread::get_id()});
}

std::filesystem::path FakeFileSystem::pathOf(int fd) const {
    std::lock_guard lock(mutex_);
    auto it = openFiles_.find(fd);
    return it == openFiles_.end() ? std::filesystem::path() : it->second;
}

std::vector<FakeFileSystem::Call> FakeFileSystem::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeFileSystem::operations() const {
    std::vector<std::string> names;
    for (const auto& call : calls())
        names.push_back(call.operation);
    return names;
}

int FakeFileSystem::maxConcurrentSaves() const {
    std::lock_guard lock(mutex_);
    return maxActiveSaves_;
}

Result<std::optional<std::uint64_t>> FakeFileSystem::availableCapacity(const std::filesystem::path& folder) {
    record("capacity", folder);
    {
        std::lock_guard lock(mutex_);
        maxActiveSaves_ = std::max(maxActiveSaves_, ++activeSaves_);
    }
    return capacity ? *capacity : Result<std::optional<std::uint64_t>>(std::optional<std::uint64_t>(1ULL << 40));
}

Result<sidecar::FileInfo> FakeFileSystem::status(const std::filesystem::path& path) {
    record("status", path);
    return FileSystem::status(path);
}

Result<std::string> FakeFileSystem::readFile(const std::filesystem::path& path) {
    record("read", path);
    if (readError)
        return sidecar::systemError(*readError);
    return FileSystem::readFile(path);
}

Status FakeFileSystem::remove(const std::filesystem::path& path) {
    record("remove", path);
    return FileSystem::remove(path);
}

Result<int> FakeFileSystem::createExclusive(const std::filesystem::path& path, mode_t mode) {
    record("create", path);
    if (createError)
        return sidecar::systemError(*createError);
    auto fd = FileSystem::createExclusive(path, mode);
    if (fd) {
        std::lock_guard lock(mutex_);
        openFiles_[fd.value()] = path;
        writtenSoFar_[fd.value()] = 0;
    }
    return fd;
}

Result<std::size_t> FakeFileSystem::write(int fd, std::string_view bytes) {
    record("write", pathOf(fd));
    if (writeDelay.count() > 0)
        std::this_thread::sleep_for(writeDelay);
    if (replaceWrittenBytes) {
        std::size_t done;
        {
            std::lock_guard lock(mutex_);
            done = writtenSoFar_[fd];
            writtenSoFar_[fd] += bytes.size();
        }
        if (done == 0 && !replaceWrittenBytes->empty()) {
            auto written = FileSystem::write(fd, *replaceWrittenBytes);
            if (!written)
                return written;
        }
        return bytes.size();  // pretend the document went out as asked
    }
    if (failWriteAfter) {
        std::size_t done;
        {
            std::lock_guard lock(mutex_);
            done = writtenSoFar_[fd];
        }
        if (done >= *failWriteAfter)
            return sidecar::systemError(writeError);
        // Short write up to the limit; the next call fails.
        bytes = bytes.substr(0, *failWriteAfter - done);
    }
    auto written = FileSystem::write(fd, bytes);
    if (written) {
        std::lock_guard lock(mutex_);
        writtenSoFar_[fd] += written.value();
    }
    return written;
}

Status FakeFileSystem::setMode(int fd, mode_t mode) {
    record("setMode", pathOf(fd));
    return FileSystem::setMode(fd, mode);
}

Status FakeFileSystem::sync(int fd) {
    record("sync", pathOf(fd));
    if (syncError)
        return sidecar::systemError(*syncError);
    return FileSystem::sync(fd);
}

Status FakeFileSystem::close(int fd) {
    const std::filesystem::path path = pathOf(fd);
    record("close", path);
    {
        std::lock_guard lock(mutex_);
        openFiles_.erase(fd);
        writtenSoFar_.erase(fd);
    }
    auto closed = FileSystem::close(fd);
    if (removeOnClose)
        ::unlink(path.c_str());
    return closed;
}

Status FakeFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    record("rename", to);
    {
        // The rename is a save's last call.
        std::lock_guard lock(mutex_);
        --activeSaves_;
    }
    if (renameError)
        return sidecar::systemError(*renameError);
    return FileSystem::rename(from, to);
}

}  // namespace meridane::testing
