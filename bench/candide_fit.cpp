// Cost of the per-frame Candide fit on a synthetic shape: the model projected with a
// known pose and action units, fitted from a neutral placement. Reports the pose fit
// alone and the pose fit followed by the three action-unit grid passes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "candide/ASMCandideExtension.h"
#include "candide/CandideModel.h"
#include "math/ShapeMat.h"

namespace {

std::string modelText() {
    std::ifstream in(std::string(KVO_CANDIDE_SOURCE), std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

// Writes into `shape` the landmarks of the model projected with a slightly turned pose
// and a half-open jaw; unpaired landmarks go to the centre.
void syntheticShape(const std::string& text, kvo::ShapeMat& shape) {
    const double deg = M_PI / 180.0;
    kvo::CandideModel truth;
    truth.initFromText(text);
    truth.actionUnits[2]->value = 0.4;
    truth.updateActionUnitVectors();
    truth.updateTransform({170.0, 320.0, 240.0, 5 * deg, -8 * deg, 3 * deg});
    kvo::ShapeMat unused;
    kvo::ASMCandideExtension tables(unused);
    std::vector<int> l = tables.mapLandmarks, v = tables.mapVertices;
    l.insert(l.end(), tables.extraLandmarks.begin(), tables.extraLandmarks.end());
    v.insert(v.end(), tables.extraVertices.begin(), tables.extraVertices.end());
    shape.dim(68, 2);
    for (int i = 0; i < 68; ++i) {
        shape.data[i][0] = 320.0;
        shape.data[i][1] = 240.0;
    }
    std::vector<bool> set(68, false);
    for (size_t i = 0; i < l.size(); ++i) {
        if (set[l[i]]) continue;
        set[l[i]] = true;
        shape.data[l[i]][0] = truth.vertices[v[i]]->transformed[0];
        shape.data[l[i]][1] = truth.vertices[v[i]]->transformed[1];
    }
}

// Argument: 0 the pose fit alone, 1 the pose and the action units.
void BM_CandideFit(benchmark::State& state) {
    const bool actionUnits = state.range(0) != 0;
    state.SetLabel(actionUnits ? "pose + action units" : "pose");
    const std::string text = modelText();
    kvo::ShapeMat shape;
    syntheticShape(text, shape);
    kvo::ASMCandideExtension ext(shape);
    ext.initFromModelText(text);
    if (!ext.isUsable()) {
        state.SkipWithError("Candide model not usable");
        return;
    }
    int frame = 0;
    for (auto _ : state) {
        // Restart from the neutral placement now and then so that the fit keeps work
        // to do rather than idling at its fixed point.
        if (++frame % 10 == 0) ext.updateTransformByShape(shape);
        ext.update(actionUnits);
        benchmark::DoNotOptimize(ext.model.projectedXY.data());
    }
    state.counters["scale"] = ext.model.transformParams[0];
}

BENCHMARK(BM_CandideFit)->ArgName("action_units")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
