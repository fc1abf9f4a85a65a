// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/SidecarFile.h"

#include "base/Diagnostics.h"
#include "sidecar/internal/SidecarFileState.h"

#include <cerrno>
#include <thread>

namespace meridane {
namespace {

using sidecar::Descriptor;
using sidecar::FileSystem;
using sidecar::quotedName;
using sidecar::withContext;

Error readError(Error error, const std::filesystem::path& path) {
    if (error.code == ENOENT || error.code == ENOTDIR)
        return error;  // a missing sidecar: the caller words that itself
    return withContext(std::move(error), "Could not read " + quotedName(path));
}

/// Opens the folder and the file `path` names, without following a link in
/// its last component.
Status openAt(FileSystem& fs, const std::filesystem::path& path, SidecarFile::State& state) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    auto folderFd = fs.openFolder(folder);
    if (!folderFd)
        return folderFd.error();
    state.folder = Descriptor(folderFd.value());
    state.realPath = path;
    state.realName = path.filename().string();
    auto fileFd = fs.openForReading(state.folder.get(), state.realName);
    if (!fileFd)
        return fileFd.error();
    state.file = Descriptor(fileFd.value());
    return Done{};
}

/// Opens the file, through its link if it is one: the link is followed once,
/// here, and every later step works on the file it led to.
Status openSidecar(FileSystem& fs, const std::filesystem::path& path, SidecarFile::State& state) {
    Status opened = openAt(fs, path, state);
    if (opened || opened.error().code != ELOOP)
        return opened;
    auto target = fs.resolved(path);
    if (!target)
        return target.error();
    return openAt(fs, target.value(), state);
}

/// Waits for the exclusive lock on the sidecar, at most `wait`. A sidecar
/// that another save replaced while this one waited is opened again, so
/// the lock held is always that of the file now at the sidecar's place.
Status lockSidecar(FileSystem& fs, const std::filesystem::path& path, SidecarFile::State& state,
                   std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        Status locked = fs.tryLock(state.file.get());
        if (locked) {
            auto now = fs.statusAt(state.folder.get(), state.realName);
            auto held = fs.statusOf(state.file.get());
            if (now && held && now->sameFile(held.value()))
                return Done{};
            if (Status reopened = openSidecar(fs, path, state); !reopened)
                return reopened;
            continue;
        }
        if (locked.error().code != EWOULDBLOCK)
            return Done{};  // a file system without locks: the identity check still guards the save
        if (std::chrono::steady_clock::now() >= deadline)
            return Error{ErrorDomain::xmp, kSidecarBusy, "XMP sidecar is being saved by another program"};
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20'000));
    }
}

/// The bytes of the open sidecar, whose identity (and so size) is known.
Status readBytes(FileSystem& fs, int fd, const std::filesystem::path& path, SidecarFile::State& state) {
    if (state.identity.size > sidecar::kMaximumSidecarBytes)
        return Error{ErrorDomain::xmp, kSidecarTooLarge,
                     "XMP sidecar is too large (" + std::to_string(state.identity.size) + " bytes; the limit is 16 MiB)"};
    auto bytes = fs.readWhole(fd, state.identity.size, sidecar::kMaximumSidecarBytes);
    if (!bytes) {
        if (bytes.error().code == EFBIG)  // grew while being read
            return Error{ErrorDomain::xmp, kSidecarTooLarge, "XMP sidecar is too large (the limit is 16 MiB)"};
        return readError(bytes.error(), path);
    }
    state.bytes = std::move(bytes).value();
    return Done{};
}

/// Only reads: no folder is held and no lock taken, so the file is opened by
/// its path (a link in its last component followed once, as for a save),
/// and its status from the open's own type check serves as its identity.
Status readOnly(FileSystem& fs, const std::filesystem::path& path, SidecarFile::State& state) {
    state.realPath = path;
    auto opened = fs.openFile(path);
    if (!opened && opened.error().code == ELOOP) {
        auto target = fs.resolved(path);
        if (!target)
            return readError(target.error(), path);
        state.realPath = std::move(target).value();
        opened = fs.openFile(state.realPath);
    }
    if (!opened)
        return readError(opened.error(), path);
    const Descriptor file(opened->fd);
    state.identity = opened->info;
    return readBytes(fs, file.get(), path, state);
}

}  // namespace

Result<SidecarFile> SidecarFile::open(const std::filesystem::path& path, const Options& options) {
    FileSystem& fs = sidecar::fileSystem();
    auto state = std::make_unique<State>();
    state->path = path;
    state->forSaving = options.forSaving;
    if (!options.forSaving) {
        if (Status read = readOnly(fs, path, *state); !read)
            return read.error();
        return SidecarFile(std::move(state));
    }
    if (Status opened = openSidecar(fs, path, *state); !opened)
        return readError(opened.error(), path);
    if (Status locked = lockSidecar(fs, path, *state, options.lockWait); !locked)
        return locked.error().domain == ErrorDomain::xmp ? locked.error() : readError(locked.error(), path);

    // The identity comes before the bytes: whatever is written after it shows
    // in the check before the rename.
    auto identity = fs.statusOf(state->file.get());
    if (!identity)
        return readError(identity.error(), path);
    state->identity = identity.value();
    if (Status read = readBytes(fs, state->file.get(), path, *state); !read)
        return read.error();
    return SidecarFile(std::move(state));
}

SidecarFile::SidecarFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
SidecarFile::SidecarFile(SidecarFile&&) noexcept = default;
SidecarFile& SidecarFile::operator=(SidecarFile&&) noexcept = default;
SidecarFile::~SidecarFile() = default;

const std::filesystem::path& SidecarFile::path() const { return state_->path; }
const std::string& SidecarFile::bytes() const { return state_->bytes; }
const std::filesystem::path& SidecarFile::replacedPath() const { return state_->realPath; }

const Result<xmp::XmpPacket>& SidecarFile::document() const {
    if (!state_->document)
        // Every property is kept only for the trace that lists them.
        state_->document.emplace(xmp::XmpPacket::parse(
            state_->bytes, diag::isListening() ? xmp::XmpPacket::Detail::allProperties
                                               : xmp::XmpPacket::Detail::gpsProperties));
    return *state_->document;
}

}  // namespace meridane
