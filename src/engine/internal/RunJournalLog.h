// SPDX-License-Identifier: GPL-3.0-or-later
// The run journal as the sidecar saves see it: each save's replacement goes
// into the run's journal, with the paths made absolute so that an undo from
// any folder finds the same files, and the folder's identity so that it
// knows when a path has come to lead elsewhere.
#pragma once

#include "journal/RunJournal.h"
#include "sidecar/SidecarGPS.h"

#include <sys/stat.h>

namespace meridane {

class RunJournalLog : public ReplacementLog {
public:
    explicit RunJournalLog(journal::RunWriter& writer) : writer_(writer) {}

    Result<std::uint32_t> record(const SidecarReplacement& replacement) override {
        std::error_code ec;
        const std::filesystem::path sidecar = std::filesystem::absolute(replacement.sidecarPath, ec);
        const std::filesystem::path replaced = std::filesystem::absolute(replacement.replacedPath, ec);
        struct stat folder {};
        if (::stat(sidecar.parent_path().c_str(), &folder) != 0)
            folder = {};
        return writer_.record({.sidecarPath = sidecar,
                               .replacedPath = replaced,
                               .oldBytes = replacement.oldBytes,
                               .newBytes = replacement.newBytes,
                               .folderDevice = static_cast<std::uint64_t>(folder.st_dev),
                               .folderInode = static_cast<std::uint64_t>(folder.st_ino)});
    }
    Status makeDurable(std::uint32_t entry) override { return writer_.makeDurable(entry); }
    void settle(std::uint32_t entry, bool replaced) override { writer_.settle(entry, replaced); }

private:
    journal::RunWriter& writer_;
};

}  // namespace meridane
