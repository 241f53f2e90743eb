#include "ProfileSources.h"

#include <cstdlib>

namespace kvo {
namespace trainer {

ProfileSourceTable::ProfileSourceTable() {
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) source[lev][i] = ProfileSource::Both;
}

bool landmarkInGroup(int i, const std::string& group) {
    if (group == "all") return true;
    if (group == "jaw") return i <= 14;
    if (group == "brows") return i >= 15 && i <= 26;
    if (group == "eyes") return i >= 27 && i <= 36;
    if (group == "nose") return (i >= 37 && i <= 47) || i == 67;
    if (group == "mouth") return i >= 48 && i <= 66;
    if (group.empty() || group.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::atoi(group.c_str()) == i;
}

namespace {

bool knownGroup(const std::string& g) {
    if (g == "all" || g == "jaw" || g == "brows" || g == "eyes" || g == "nose" || g == "mouth") return true;
    if (g.empty() || g.size() > 2 || g.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::atoi(g.c_str()) < kLandmarks;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= s.size()) {
        const size_t at = s.find(sep, from);
        const size_t to = at == std::string::npos ? s.size() : at;
        parts.push_back(s.substr(from, to - from));
        from = to + 1;
    }
    return parts;
}

}  // namespace

bool parseProfileSources(const std::string& rules, ProfileSourceTable& table, std::string& error) {
    for (const std::string& rule : split(rules, ';')) {
        if (rule.empty()) continue;
        const size_t colon = rule.find(':'), equals = rule.find('=');
        if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
            error = "a profile-source rule is LEVELS:GROUPS=SOURCE (got '" + rule + "')";
            return false;
        }
        const std::string sourceName = rule.substr(equals + 1);
        ProfileSource source;
        if (sourceName == "both") source = ProfileSource::Both;
        else if (sourceName == "labels") source = ProfileSource::Labels;
        else if (sourceName == "300w") source = ProfileSource::Stills300W;
        else {
            error = "profile source must be both, labels or 300w (got '" + sourceName + "')";
            return false;
        }
        std::vector<int> levels;
        for (const std::string& l : split(rule.substr(0, colon), ',')) {
            if (l.size() != 1 || l[0] < '0' || l[0] >= '0' + kLevels) {
                error = "profile-source level must be 0-3 (got '" + l + "')";
                return false;
            }
            levels.push_back(l[0] - '0');
        }
        const std::vector<std::string> groups = split(rule.substr(colon + 1, equals - colon - 1), ',');
        for (const std::string& g : groups)
            if (!knownGroup(g)) {
                error = "unknown landmark group '" + g + "'";
                return false;
            }
        for (int lev : levels)
            for (int i = 0; i < kLandmarks; ++i)
                for (const std::string& g : groups)
                    if (landmarkInGroup(i, g)) table.source[lev][i] = source;
    }
    return true;
}

bool mixProfiles(ProfileTrainer& stills, const ProfileTrainer& labels, const ProfileSourceTable& table,
                 long labelsWeight, std::string& error) {
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) {
            const ProfileSource source = table.source[lev][i];
            if (source == ProfileSource::Stills300W) continue;
            const ProfileSpec& from = labels.layout().spec[lev][i];
            if (source == ProfileSource::Labels) {
                stills.replace(lev, i, from, labels.stats(lev, i));
                continue;
            }
            const ProfileSpec& to = stills.layout().spec[lev][i];
            if (from.twoD != to.twoD || from.length != to.length) {
                error = "level " + std::to_string(lev) + ", landmark " + std::to_string(i) +
                        ": the two sources' profile lengths differ where both are mixed";
                return false;
            }
            stills.addWeighted(lev, i, labels.stats(lev, i), labelsWeight);
        }
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i)
            if (stills.stats(lev, i).count < 2) {
                error = "level " + std::to_string(lev) + ", landmark " + std::to_string(i) +
                        ": fewer than 2 samples from the chosen profile source";
                return false;
            }
    return true;
}

}  // namespace trainer
}  // namespace kvo
