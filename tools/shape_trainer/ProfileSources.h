#pragma once
// Where each profile of the model learns from: the 300-W stills, the labelled faces
// (webcam video frames and photos labelled by dlib), or both, per pyramid level and
// landmark, and how much each labelled face counts against a 300-W face.
//
// The trainer samples the two sets into two ProfileTrainers; `mixProfiles` then folds the
// labelled set's statistics into the 300-W set's according to the table: "both" adds the
// labelled samples `labelsWeight` times each, "labels" keeps only the labelled samples
// (and their profile length), "300w" keeps only the 300-W samples.
//
// Rules text (the trainer's --profile-source): rules separated by ';', each
// LEVELS:GROUPS=SOURCE, LEVELS a comma list of levels 0-3 (0 finest), GROUPS a comma list
// of jaw, brows, eyes, nose (with the nose tip), mouth, all, or landmark indices, SOURCE
// one of both, labels, 300w. Later rules override earlier ones; unnamed entries are "both".
//
// Thread safety: pure functions and plain values.
#include <string>

#include "ProfileTrainer.h"

namespace kvo {
namespace trainer {

enum class ProfileSource { Both, Labels, Stills300W };

struct ProfileSourceTable {
    ProfileSource source[kLevels][kLandmarks];
    ProfileSourceTable();
};

// True when landmark `i` (our layout) belongs to `group` (a group name or an index).
bool landmarkInGroup(int i, const std::string& group);

// Parses the rules text into `table`. Returns false with `error` set (and `table`
// unspecified) on a malformed rule, an unknown group or source, or a level outside 0-3.
bool parseProfileSources(const std::string& rules, ProfileSourceTable& table, std::string& error);

// Requires: both trainers sampled with layouts of equal length wherever the table says
// "both". Ensures: `stills` holds, per entry, the statistics the table chooses (labelled
// samples counted `labelsWeight` times, `labelsWeight` >= 1), and its layout the chosen
// profile length. Returns false with `error` set when a "both" entry's lengths differ or
// an entry ends with fewer than 2 samples (its source had no faces).
bool mixProfiles(ProfileTrainer& stills, const ProfileTrainer& labels, const ProfileSourceTable& table,
                 long labelsWeight, std::string& error);

}  // namespace trainer
}  // namespace kvo
