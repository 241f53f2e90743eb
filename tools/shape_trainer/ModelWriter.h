#pragma once
// Writes the shape-model JSON document that ASMModel::readASM reads: "EigVecs",
// "EigVals", "AvShape" and one "Lev_<k>" object per level with "ProfSpecs", "Profs" and
// "Covars". 1-D profiles get a full inverse covariance (regularised); 2-D profiles the
// compact diagonal form (first row marked -9999).
//
// Numbers are printed with a fixed printf format, so equal inputs give an equal text.
//
// Thread safety: pure functions.
#include <string>
#include <vector>

#include "ProfileTrainer.h"
#include "ShapeStatistics.h"

namespace kvo {
namespace trainer {

// Mean profile and the regularised inverse covariance of one profile's samples.
// `ridge` is added to the covariance's diagonal as a fraction of its mean diagonal.
// For `diagonalOnly`, `inverse` holds only the L diagonal weights.
void profileModel(const ProfileStats& stats, double ridge, bool diagonalOnly,
                  std::vector<double>& mean, std::vector<double>& inverse);

struct ModelWriterOptions {
    double ridge1d = 0.05;
    double ridge2d = 0.05;
    // Landmarks written without image evidence (index -> true): a zero inverse covariance
    // makes every candidate position match equally, and the search's tie rule then keeps
    // the landmark where the shape model put it. For points whose training positions are
    // not read off the images (e.g. filled in by a shape model).
    std::vector<bool> noEvidence;
};

std::string writeModelJson(const ShapeModel& shape, const ProfileTrainer& profiles,
                           const ModelWriterOptions& options);

}  // namespace trainer
}  // namespace kvo
