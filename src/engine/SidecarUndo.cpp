// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/internal/SidecarUndo.h"

#include "base/Diagnostics.h"

#include <cerrno>

#include <sys/stat.h>

namespace meridane {

ProcessingResult undoSidecar(const journal::OpenedRun& run, const journal::RunEntry& entry, ReplacementLog* log) {
    const std::string name = entry.sidecarPath.filename().native();
    if (!entry.damage.empty()) {
        diag::debug("Not restoring ", name, ": ", entry.damage);
        return ProcessingResult::failed(entry.damage);
    }
    // A link among the folders above may now lead into another folder,
    // holding a file of the same name and bytes: not the sidecar the run wrote.
    struct stat folder {};
    if (entry.folderKnown && (entry.folderDevice != 0 || entry.folderInode != 0) &&
        ::stat(entry.sidecarPath.parent_path().c_str(), &folder) == 0 &&
        (static_cast<std::uint64_t>(folder.st_dev) != entry.folderDevice ||
         static_cast<std::uint64_t>(folder.st_ino) != entry.folderInode)) {
        diag::debug("Not restoring ", name, ": ", entry.sidecarPath.parent_path().native(), " is another folder now");
        return ProcessingResult::failed(kOtherFolder);
    }
    const SidecarWriteOptions options{.dryRun = false, .alwaysOverwrite = false, .beforeReplace = {}, .log = log};
    // As in a run: a sidecar another program changed during the save is
    // read and decided again, once.
    for (int attempt = 1;; ++attempt) {
        Result<SidecarFile> sidecar = SidecarFile::open(entry.sidecarPath, {.forSaving = true});
        if (!sidecar) {
            if (sidecar.error().code == ENOENT || sidecar.error().code == ENOTDIR) {
                diag::debug("Not restoring ", name, ": no sidecar at ", entry.sidecarPath.native());
                return ProcessingResult::notRestored(kSidecarMissing);
            }
            return ProcessingResult::failed(sidecar.error().message);
        }
        // A link that now leads elsewhere is not the file the run wrote.
        if (sidecar->replacedPath() != entry.replacedPath) {
            diag::debug("Not restoring ", name, ": it now leads to ", sidecar->replacedPath().native());
            return ProcessingResult::notRestored(kChangedSinceRun);
        }
        const journal::Digest now = journal::contentHash(sidecar->bytes());
        if (now == entry.oldHash) {
            diag::debug("Already as before the run: ", name);
            return ProcessingResult::alreadyCorrect();
        }
        if (now != entry.newHash) {
            diag::debug("Not restoring ", name, ": its bytes are not those the run wrote");
            return ProcessingResult::notRestored(kChangedSinceRun);
        }
        Result<std::string> earlier = run.oldBytes(entry);
        if (!earlier)
            return ProcessingResult::failed(earlier.error().message);
        Status restored = restoreSidecarBytes(sidecar.value(), earlier.value(), options);
        if (!restored && restored.error().domain == ErrorDomain::xmp && restored.error().code == kSidecarChanged &&
            attempt == 1)
            continue;
        if (!restored) {
            diag::debug("Failed to restore ", name, ": ", restored.error().message);
            return ProcessingResult::failed(restored.error().message);
        }
        diag::debug("Restored ", name);
        return ProcessingResult::restored(gpsChangeLines(sidecar->bytes(), earlier.value()));
    }
}

}  // namespace meridane
