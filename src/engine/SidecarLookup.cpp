// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/internal/SidecarLookup.h"

#include "base/UnicodeText.h"

#include <dirent.h>

#include <algorithm>

namespace meridane {
namespace {

// A folder beyond this many sidecars is not searched for case variants: the
// listing stays a bounded cost of the run.
constexpr std::size_t kMaxListedNames = 1'000'000;

bool endsWithXmp(std::string_view name) {
    if (name.size() < 4)
        return false;
    const std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'x' && (tail[2] | 0x20) == 'm' && (tail[3] | 0x20) == 'p';
}

std::string folded(std::string_view name) {
    std::string lower(name);
    bool ascii = true;
    for (char& c : lower) {
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ascii ? lower : text::lowerCased(name);
}

}  // namespace

std::vector<std::string> caseVariantsIn(const std::vector<std::string>& folderNames, std::string_view name) {
    std::vector<std::string> variants;
    const std::string wanted = folded(name);
    for (const std::string& candidate : folderNames)
        if (candidate != name && folded(candidate) == wanted)
            variants.push_back(candidate);
    std::sort(variants.begin(), variants.end());
    return variants;
}

std::vector<std::string> listSidecarNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!endsWithXmp(name))
            continue;
        if (names.size() == kMaxListedNames) {
            names.clear();
            break;
        }
        names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

std::shared_ptr<const std::vector<std::string>> FolderListings::sidecarNamesIn(const std::filesystem::path& folder) {
    {
        std::lock_guard lock(mutex_);
        if (auto found = folders_.find(folder.native()); found != folders_.end())
            return found->second;
    }
    // Listed outside the lock: the other worker need not wait for a big folder.
    auto names = std::make_shared<const std::vector<std::string>>(listSidecarNames(folder));
    std::lock_guard lock(mutex_);
    return folders_.try_emplace(folder.native(), std::move(names)).first->second;
}

std::size_t FolderListings::listed() const {
    std::lock_guard lock(mutex_);
    return folders_.size();
}

}  // namespace meridane
