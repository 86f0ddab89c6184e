// Writes the package's Debian changelog from the release notes the program carries, so the two
// cannot drift:
//
//   dovetrel_debian_changelog <version> <maintainer> <output file>
//
// Fails when the newest release is not <version> (the project's), when a release's date is not
// "<Month> <year>" or it has no notes, or when the releases are not newest first. The notes give
// only the month, so a release stands at midnight on the first of it, as in the metainfo;
// releases within one month follow each other a second apart, oldest first, because the
// changelog format wants each entry newer than the one below it.
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/release_notes.h"

namespace {

using namespace std::chrono;

constexpr std::string_view kPackage = "dovetrel";
constexpr std::size_t kLineWidth = 80;  // what Debian's tools assume of a changelog line
constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};

// The first day of the month that `date` ("March 2026") names; nothing when it names none.
std::optional<sys_days> firstOfMonth(const std::string& date) {
    std::istringstream in(date);
    std::string name;
    int number = 0;
    if (!(in >> name >> number) || !(in >> std::ws).eof()) {
        return std::nullopt;
    }
    for (unsigned index = 0; index < kMonths.size(); ++index) {
        if (kMonths[index] == name) {
            return sys_days{year{number} / month{index + 1} / 1};
        }
    }
    return std::nullopt;
}

// The date as a changelog trailer writes it: "Sun, 01 Mar 2026 00:00:00 +0000".
std::string trailerDate(sys_seconds time) {
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%s, %02u %.3s %d %02d:%02d:%02d +0000",
                  kWeekdays[weekday{day}.c_encoding()].data(), unsigned{date.day()},
                  kMonths[unsigned{date.month()} - 1].data(), int{date.year()},
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text.data();
}

// One change as a bullet, its words wrapped under the first.
void writeItem(std::ostream& out, const std::string& text) {
    std::istringstream words(text);
    std::string word;
    std::string line = "  *";
    const std::size_t indent = line.size() + 1;
    while (words >> word) {
        if (line.size() > indent && line.size() + 1 + word.size() > kLineWidth) {
            out << line << '\n';
            line.assign(indent - 1, ' ');
        }
        line += ' ' + word;
    }
    out << line << '\n';
}

int fail(const std::string& message) {
    std::cerr << "dovetrel_debian_changelog: " << message << '\n';
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: dovetrel_debian_changelog <version> <maintainer> <output file>\n";
        return 2;
    }
    const std::string version = argv[1];
    const std::string maintainer = argv[2];
    const auto& releases = dovetrel::Release::all();
    if (releases.empty() || releases.front().version != version) {
        return fail("the newest release note is not " + version + ", the project's version");
    }

    std::vector<sys_seconds> times(releases.size());
    std::map<sys_days, int> releasesInMonth;
    for (auto index = releases.size(); index-- > 0;) {
        const auto& release = releases[index];
        const auto month = firstOfMonth(release.date);
        if (!month) {
            return fail(release.version + " has the date \"" + release.date +
                        "\", not a month and a year");
        }
        if (release.items.empty()) {
            return fail(release.version + " has no notes");
        }
        times[index] = *month + seconds{releasesInMonth[*month]++};
        if (index + 1 < releases.size() && times[index] <= times[index + 1]) {
            return fail(release.version + " is not newer than the release below it");
        }
    }

    std::ostringstream changelog;
    for (std::size_t index = 0; index < releases.size(); ++index) {
        const auto& release = releases[index];
        if (index > 0) {
            changelog << '\n';
        }
        changelog << kPackage << " (" << release.version << ") unstable; urgency=medium\n\n";
        for (const auto& item : release.items) {
            writeItem(changelog, item.text);
        }
        changelog << "\n -- " << maintainer << "  " << trailerDate(times[index]) << '\n';
    }

    std::ofstream out(argv[3], std::ios::binary);
    out << changelog.str();
    out.close();
    if (!out) {
        return fail(std::string("cannot write ") + argv[3]);
    }
    return 0;
}
