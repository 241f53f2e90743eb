#include "asm/ASMModel.h"

#include <cmath>

#include "asm/FaceLandmarks.h"
#include "image/ImageDataManager.h"
#include "models/EmbeddedModels.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

using rapidjson::SizeType;
using rapidjson::Value;

// Largest "ProfSpecs" entry: eight decimal digits, read as eight hexadecimal ones.
const uint64_t kMaxProfSpec = 99999999u;

// Number of shape-search pyramid levels that have their own images; higher model
// levels use the images of level 0.
const int kImageLevels = 4;

// Member `key` of `object`, or null when it is absent.
const Value* member(const Value& object, const char* key) {
    Value::ConstMemberIterator it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

// True when `v` is a non-empty array that NumberMat::dimJSON reads completely: rows
// of numbers each holding at least as many numbers as the first row (which is not
// empty), or a row of numbers.
bool isMatrix(const Value& v) {
    if (!v.IsArray() || v.Size() == 0) return false;
    const Value& first = v[0];
    if (first.IsNumber()) {
        for (SizeType j = 0; j < v.Size(); ++j) {
            if (!v[j].IsNumber()) return false;
        }
        return true;
    }
    if (!first.IsArray() || first.Size() == 0) return false;
    const SizeType cols = first.Size();
    for (SizeType i = 0; i < v.Size(); ++i) {
        const Value& row = v[i];
        if (!row.IsArray() || row.Size() < cols) return false;
        for (SizeType j = 0; j < cols; ++j) {
            if (!row[j].IsNumber()) return false;
        }
    }
    return true;
}

// True when `v` is a non-empty array of numbers.
bool isProfile(const Value& v) {
    if (!v.IsArray() || v.Size() == 0) return false;
    for (SizeType j = 0; j < v.Size(); ++j) {
        if (!v[j].IsNumber()) return false;
    }
    return true;
}

// Checks that a required matrix is present and readable; returns the problem or "".
std::string checkMatrixMember(const Value& object, const char* key, const std::string& where) {
    const Value* v = member(object, key);
    if (v == nullptr) return where + "has no \"" + key + "\"";
    if (!isMatrix(*v)) return where + "\"" + key + "\" is not a matrix of numbers";
    return "";
}

// Checks one level object: three arrays, one entry per landmark, of readable values.
std::string checkLevel(const Value& level, const std::string& name) {
    const std::string where = "\"" + name + "\" ";
    if (!level.IsObject()) return where + "is not an object";
    const Value* specs = member(level, "ProfSpecs");
    const Value* profs = member(level, "Profs");
    const Value* covars = member(level, "Covars");
    if (specs == nullptr) return where + "has no \"ProfSpecs\"";
    if (profs == nullptr) return where + "has no \"Profs\"";
    if (covars == nullptr) return where + "has no \"Covars\"";
    if (!specs->IsArray() || specs->Size() == 0) return where + "\"ProfSpecs\" is not a non-empty array";
    const SizeType m = specs->Size();
    if (!profs->IsArray() || profs->Size() < m) {
        return where + "\"Profs\" does not hold " + to_string(static_cast<int>(m)) + " profiles";
    }
    if (!covars->IsArray() || covars->Size() < m) {
        return where + "\"Covars\" does not hold " + to_string(static_cast<int>(m)) + " matrices";
    }
    for (SizeType i = 0; i < m; ++i) {
        const std::string landmark = " of landmark " + to_string(static_cast<int>(i));
        const Value& spec = (*specs)[i];
        if (!spec.IsUint64() || spec.GetUint64() > kMaxProfSpec) {
            return where + "profile flag word" + landmark +
                   " is not an integer of at most 8 decimal digits";
        }
        if (!isProfile((*profs)[i])) return where + "profile" + landmark + " is not a non-empty array of numbers";
        if (!isMatrix((*covars)[i])) return where + "distance matrix" + landmark + " is not a matrix of numbers";
    }
    return "";
}

std::string levelKey(int i) { return "Lev_" + to_string(i); }

// Checks everything the builder reads before anything is built; returns the problem
// or "".
std::string checkDocument(const Value& doc, const ASMModelConfig& config) {
    if (!doc.IsObject()) return "the document is not a JSON object";
    if (config.numLevels < 1) return "numLevels " + to_string(config.numLevels) + " is below 1";
    if (!(config.pyrRatio > 0.0) || !std::isfinite(config.pyrRatio)) {
        return "pyrRatio " + to_string(config.pyrRatio) + " is not a positive number";
    }
    if (config.nPixSearch < 0 || config.nPixSearch2d < 0) return "the search ranges nPixSearch and nPixSearch2d must not be negative";
    const char* keys[] = {"EigVecs", "EigVals", "AvShape"};
    for (const char* key : keys) {
        std::string problem = checkMatrixMember(doc, key, "the document ");
        if (!problem.empty()) return problem;
    }
    for (int i = 0; i < config.numLevels; ++i) {
        const std::string key = levelKey(i);
        const Value* level = member(doc, key.c_str());
        if (level == nullptr) return "the document has no \"" + key + "\"";
        std::string problem = checkLevel(*level, key);
        if (!problem.empty()) return problem;
    }
    return "";
}

// True when n is the square of an odd number.
bool isOddSquare(size_t n) {
    size_t side = static_cast<size_t>(std::sqrt(static_cast<double>(n)));
    while (side * side > n) --side;
    while ((side + 1) * (side + 1) <= n) ++side;
    return side * side == n && side % 2 == 1;
}

}  // namespace

ASMModel::ASMModel() {}

void ASMModel::clear() {
    eigVecs.dim(0, 0);
    eigVecsT.dim(0, 0);
    meanShape.dim(0, 0);
    levels.clear();
}

void ASMModel::init(ASMModelConfig& config, ImageDataManager& images) {
    const std::string text = decodeShapeModel();
    if (text.empty()) {
        clear();
        Err("ASMModel::init: the embedded shape model is empty; face tracking is unavailable");
        return;
    }
    readASM(text.c_str(), config, images, false);
}

int ASMModel::assignNumEigs(int configured, int fallback, int limit, const std::string& name,
                            int level) {
    const int n = configured == 0 ? fallback : configured;
    if (n <= 0) {
        Err("level " + to_string(level) + " " + name + " is " + to_string(n) + ".\n" +
            "       Check definitions of nEigs and friends in the config file.");
    }
    if (n > limit) {
        Err("level " + to_string(level) + " " + name + " " + to_string(n) +
            " is more than the number " + to_string(limit) + ".\n" +
            "       Check definitions of nEigs and friends in the config file.");
    }
    return n;
}

std::shared_ptr<ASMLevel> ASMModel::readASMLevel(const rapidjson::Value& value, int level,
                                                 ImageData& image, ImageDataInt& gradient) {
    std::shared_ptr<ASMLevel> lev = std::make_shared<ASMLevel>(level, &image, &gradient);
    const Value& specs = value["ProfSpecs"];
    const Value& profs = value["Profs"];
    const Value& covars = value["Covars"];
    const SizeType m = specs.Size();
    lev->profSpecs.assign(m, 0u);
    lev->profMeans.resize(m);
    lev->profWork.resize(m);
    lev->covars.resize(m);
    for (SizeType i = 0; i < m; ++i) {
        // The document writes the hexadecimal profile flags with decimal digits.
        lev->profSpecs[i] = stringToUint(to_string(static_cast<unsigned long long>(specs[i].GetUint64())));

        const Value& prof = profs[i];
        const SizeType len = prof.Size();
        lev->profMeans[i].assign(len, 0.0);
        lev->profWork[i].assign(len, 0.0);
        for (SizeType j = 0; j < len; ++j) lev->profMeans[i][j] = prof[j].GetDouble();

        std::shared_ptr<NumberMat> covar = std::make_shared<NumberMat>();
        covar->readJSON(covars[i]);
        // Compact form: keep only the third column, as one row led by the marker.
        if (covar->cols == 3 && covar->data[0][2] == SPARSE_SYMMETRIC) {
            const int k = covar->rows;
            std::vector<double> weights(k);
            for (int r = 0; r < k; ++r) weights[r] = covar->data[r][2];
            covar->dim(1, k);
            for (int c = 0; c < k; ++c) covar->data[0][c] = weights[c];
        }
        lev->covars[i] = covar;
    }
    return lev;
}

void ASMModel::readASM(const char* text, ASMModelConfig& config, ImageDataManager& images,
                       bool verbose) {
    rapidjson::Document doc;
    doc.Parse(text == nullptr ? "" : text);
    if (doc.HasParseError()) {
        clear();
        Err("Error in JSON parsing: readASM");
        return;
    }
    if (verbose) trace(" ");

    const std::string problem = checkDocument(doc, config);
    if (!problem.empty()) {
        clear();
        Err("readASM: " + problem + "; no shape model loaded");
        return;
    }

    eigVecs.readJSON(doc["EigVecs"]);
    eigVecsT.dim(eigVecs.cols, eigVecs.rows);
    for (int i = 0; i < eigVecs.rows; ++i) {
        for (int j = 0; j < eigVecs.cols; ++j) eigVecsT.data[j][i] = eigVecs.data[i][j];
    }

    levels.assign(config.numLevels, std::shared_ptr<ASMLevel>());
    for (int i = 0; i < config.numLevels; ++i) {
        const int imageLevel = i < kImageLevels ? i : 0;
        const std::string key = levelKey(i);
        levels[i] = readASMLevel(doc[key.c_str()], i, images.asmCurrent[imageLevel],
                                 images.asmGradient[imageLevel]);
    }
    ASMLevel& L0 = *levels[0];
    const size_t p = L0.profSpecs.size();

    L0.eigVals.readJSON(doc["EigVals"]);
    if (L0.eigVals.data[0][0] < 0.1) {
        Err("eigen data invalid (not enough variation, max eigenvalue is " +
            to_string(L0.eigVals.data[0][0]) + ")");
    }
    L0.meanShape.readJSON(doc["AvShape"]);
    meanShape.copyFrom(L0.meanShape);

    if (config.nLandmarks != L0.meanShape.rows) {
        Err("nLandmarks " + to_string(config.nLandmarks) +
            " in asm file does not match the number " + to_string(L0.meanShape.rows) +
            " of rows in the mean shape.\n");
    }
    if (2 * config.nLandmarks != eigVecs.rows) Err("eigen data invalid");

    if (config.fXm2vts) {
        FaceLandmarks::initGLandTab();
        if (FaceLandmarks::nOldPoints != config.nLandmarks) {
            if (config.nLandmarks == 76) {
                for (size_t k = 0; k < 8; ++k) {
                    FaceLandmarks::gLandTab[68 + k] = FaceLandmarks::gLand76Tab[k];
                }
            }
            FaceLandmarks::nOldPoints = config.nLandmarks;
        }
    }

    if (config.nEigs == -1) config.nEigs = eigVecs.cols / 3;
    if (config.nEigs < 1) config.nEigs = 1;

    if (config.fMe17 && !config.fXm2vts) {
        Err("fMe17 is true yet fXm2vts is false, check your asm and config file.");
    }
    if (verbose) {
        trace(" ");
        trace("numLevels: " + to_string(config.numLevels));
    }

    const int d = eigVecs.rows;
    // The search uses the first nEigs eigenvalues; counts outside the available
    // range are clamped once they have been reported.
    const int numEigVals = L0.eigVals.rows;
    auto clampEigs = [numEigVals](int n) { return n < 0 ? 0 : (n > numEigVals ? numEigVals : n); };
    for (int i = 0; i < config.numLevels; ++i) {
        ASMLevel& lev = *levels[i];
        bool has2d = false;
        for (size_t j = 0; j < p && j < lev.profSpecs.size(); ++j) has2d = has2d || lev.is2d(j);

        if (i == 0) {
            const int count = has2d ? config.nEigs2dLev0 : config.nEigsLev0;
            const double limit = has2d ? config.BMax2dLev0 : config.BMaxLev0;
            lev.nEigs = clampEigs(assignNumEigs(count, config.nEigs, d, "nEigsLev0", 0));
            lev.BMax = count != 0 ? limit : config.BMax;
            if (lev.BMax == 0.0) lev.BMax = config.BMax;
        } else {
            lev.nEigs = clampEigs(assignNumEigs(config.nEigs, d, d, "nEigs", i));
            lev.BMax = config.BMax;
        }
        lev.nEigsFinal = clampEigs(assignNumEigs(config.nEigsFinal, lev.nEigs, d, "nEigsFinal", i));
        lev.BMaxFinal = config.BMaxFinal == 0.0 ? config.BMax : config.BMaxFinal;
        lev.nMaxSearchIters = has2d ? config.nMaxSearchIters2d : config.nMaxSearchIters;
        lev.nQualifyingDisp = has2d ? config.nQualifyingDisp2d : config.nQualifyingDisp;

        if (i >= 1) {
            lev.eigVals.copyFrom(L0.eigVals);
            lev.eigVals.multiplyByScalar(1.0 / std::pow(config.pyrRatio * config.pyrRatio, i));
            lev.meanShape.copyFrom(L0.meanShape);
            lev.meanShape.multiplyByScalar(1.0 / std::pow(config.pyrRatio, i));
        }
        if (verbose) {
            trace("ASMLevel " + to_string(i) + ": params:");
            trace("nEig: " + to_string(lev.nEigs));
            trace("nEigsFinal: " + to_string(lev.nEigsFinal));
            trace("BMax: " + to_string(lev.BMax));
            trace("BMaxFinal: " + to_string(lev.BMaxFinal));
            trace("nMaxSearchIters: " + to_string(lev.nMaxSearchIters));
            trace("nQualifyingDisp: " + to_string(lev.nQualifyingDisp));
            trace(" ");
        }
    }

    const std::string unusable = checkUsable(config);
    if (!unusable.empty()) {
        clear();
        Err("readASM: " + unusable + "; no shape model loaded");
    }
}

std::string ASMModel::checkUsable(const ASMModelConfig& config) const {
    const int n = meanShape.rows;
    if (meanShape.cols != 2) {
        return "the mean shape has " + to_string(meanShape.cols) + " columns instead of 2";
    }
    if (eigVecs.rows != 2 * n || eigVecs.cols != 2 * n) {
        return "the eigenvectors form a " + to_string(eigVecs.rows) + " x " + to_string(eigVecs.cols) +
               " matrix, the " + to_string(n) + " landmarks need " + to_string(2 * n) + " x " +
               to_string(2 * n);
    }
    const ASMLevel& L0 = *levels[0];
    if (L0.eigVals.rows != 2 * n) {
        return "there are " + to_string(L0.eigVals.rows) + " eigenvalues for " +
               to_string(2 * n) + " eigenvectors";
    }
    for (const std::shared_ptr<ASMLevel>& level : levels) {
        const std::string where = "level " + to_string(level->level) + " ";
        if (static_cast<int>(level->profSpecs.size()) != n) {
            return where + "has " + to_string(static_cast<int>(level->profSpecs.size())) +
                   " profiles for " + to_string(n) + " landmarks";
        }
        for (int i = 0; i < n; ++i) {
            const std::string landmark = "landmark " + to_string(i) + " ";
            const int len = static_cast<int>(level->profMeans[i].size());
            if (level->is2d(i)) {
                if (!isOddSquare(static_cast<size_t>(len))) {
                    return where + landmark + "has a 2-D profile of " + to_string(len) +
                           " values, not the square of an odd number";
                }
            } else if (len + 2 * config.nPixSearch > PROFILE_BUFFER_LENGTH) {
                return where + landmark + "has a 1-D profile of " + to_string(len) +
                       " values; with nPixSearch " + to_string(config.nPixSearch) +
                       " at most " + to_string(PROFILE_BUFFER_LENGTH - 2 * config.nPixSearch) +
                       " fit the search buffer";
            }
            const NumberMat& covar = *level->covars[i];
            // A one-row matrix is read as the compact form: one weight per value
            // behind the marker. Otherwise the upper triangle of len x len is read.
            const bool fits = covar.rows == 1 ? covar.cols >= len + 1
                                              : (covar.rows >= len && covar.cols >= len);
            if (!fits) {
                return where + landmark + "has a " + to_string(covar.rows) + " x " +
                       to_string(covar.cols) + " distance matrix for a profile of " +
                       to_string(len) + " values";
            }
        }
    }
    return "";
}

}  // namespace kvo
