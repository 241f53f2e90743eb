#include "candide/CandideModel.h"

#include <cmath>

#include "util/StringUtils.h"

namespace kvo {

CandideModel::CandideModel() : transformParams(6, 0.0), usable(false) {
    for (double& v : rotScale) v = 0.0;
}

CandideModel::~CandideModel() = default;

bool CandideModel::initFromText(const std::string& text) {
    clear();  // a repeated parse replaces the model instead of doubling its units
    SplitString splitter(text);
    std::vector<std::string>& lines = splitter.split('\n', true);
    usable = parseVertices(lines) && parseFaceList(lines) && parseActionUnitVectors(lines) &&
             parseShapeUnits(lines);
    if (!usable) clear();
    buildVertexUnits();
    transformParams.assign(6, 0.0);
    transformParams[0] = 1.0;
    return usable;
}

void CandideModel::clear() {
    vertices.clear();
    points.clear();
    projectedXY.clear();
    faces.clear();
    triangles.clear();
    actionUnits.clear();
    shapeUnits.clear();
    vertexUnits.clear();
}

void CandideModel::buildVertexUnits() {
    vertexUnits.assign(vertices.size(), std::vector<UnitEntry>());
    for (const ActionUnitVectorPtr& unit : actionUnits) {
        for (size_t j = 0; j < unit->vertexIndices.size(); ++j) {
            vertexUnits[unit->vertexIndices[j]].push_back({unit.get(), &unit->displacements[j]});
        }
    }
}

void CandideModel::updateVertex(size_t index) {
    CandidePoint& v = *vertices[index];
    v.animated[0] = v.neutral[0];
    v.animated[1] = v.neutral[1];
    v.animated[2] = v.neutral[2];
    for (const UnitEntry& e : vertexUnits[index]) {
        const double w = e.unit->value;
        const std::array<double, 3>& d = *e.displacement;
        v.animated[0] += w * d[0];
        v.animated[1] += w * d[1];
        v.animated[2] += w * d[2];
    }
    transformVertex(v, transformParams[1], transformParams[2]);
}

inline void CandideModel::transformVertex(CandidePoint& v, double tx, double ty) const {
    const double* r = rotScale;
    const double x = v.animated[0], y = v.animated[1], z = v.animated[2];
    v.transformed[0] = r[0] * x + r[1] * y + r[2] * z + tx;
    v.transformed[1] = r[3] * x + r[4] * y + r[5] * z + ty;
    v.transformed[2] = r[6] * x + r[7] * y + r[8] * z;
    (*v.outCoords)[v.outIndex] = v.transformed[0];
    (*v.outCoords)[v.outIndex + 1] = v.transformed[1];
}

void CandideModel::updateActionUnitVectors() {
    for (const CandidePointPtr& v : vertices) {
        v->animated[0] = v->neutral[0];
        v->animated[1] = v->neutral[1];
        v->animated[2] = v->neutral[2];
    }
    for (const ActionUnitVectorPtr& unit : actionUnits) {
        const double w = unit->value;
        const size_t count = unit->vertexIndices.size();
        for (size_t j = 0; j < count; ++j) {
            CandidePoint& v = *vertices[unit->vertexIndices[j]];
            const std::array<double, 3>& d = unit->displacements[j];
            v.animated[0] += w * d[0];
            v.animated[1] += w * d[1];
            v.animated[2] += w * d[2];
        }
    }
}

void CandideModel::updateTransform(const std::vector<double>& pose) {
    bool changed = false;
    for (int i = 0; i < 6; ++i) {
        if (!(pose[i] == transformParams[i])) changed = true;  // also true for NaN
    }
    if (changed) {
        for (int i = 0; i < 6; ++i) transformParams[i] = pose[i];
        const double s = pose[0];
        const double cx = std::cos(pose[3]), sx = std::sin(pose[3]);
        const double cy = std::cos(pose[4]), sy = std::sin(pose[4]);
        const double cz = std::cos(pose[5]), sz = std::sin(pose[5]);
        rotScale[0] = cy * cz * s;
        rotScale[1] = -cy * sz * s;
        rotScale[2] = sy * s;
        rotScale[3] = (sx * sy * cz + cx * sz) * s;
        rotScale[4] = (cx * cz - sx * sy * sz) * s;
        rotScale[5] = -cy * sx * s;
        rotScale[6] = (sx * sz - cx * sy * cz) * s;
        rotScale[7] = (sx * cz + cx * sy * sz) * s;
        rotScale[8] = cx * cy * s;
    }
    const double tx = transformParams[1];
    const double ty = transformParams[2];
    for (const CandidePointPtr& vp : vertices) transformVertex(*vp, tx, ty);
}

}  // namespace kvo
