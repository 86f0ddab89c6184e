// The release notes shown in the settings window, newest first.
#pragma once

#include <string>
#include <vector>

namespace dovetrel {

struct ReleaseItem {
    std::string icon;  // symbol name
    std::string text;
};

struct Release {
    std::string id;  // equal to the version in every built-in entry
    std::string version;
    std::string date;
    std::vector<ReleaseItem> items;

    // Every release, newest first; the first is the latest.
    static const std::vector<Release>& all();
};

// Whether `release` is the newest one (the first of all()).
bool isLatestRelease(const Release& release);

// The first release whose id is `id`; nullptr when there is none.
const Release* findRelease(const std::string& id);

}  // namespace dovetrel
