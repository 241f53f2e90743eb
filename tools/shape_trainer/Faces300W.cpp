#include "Faces300W.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "DlibLayoutConverter.h"
#include "PointShapeModel.h"

namespace kvo {
namespace trainer {

bool readPts(const std::string& path, ShapeVec& dlib, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    int declared = -1;
    bool inside = false;
    ShapeVec pts;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("n_points:", 0) == 0) {
            declared = std::atoi(line.c_str() + 9);
        } else if (line == "{") {
            inside = true;
        } else if (line == "}") {
            inside = false;
        } else if (inside) {
            std::istringstream ls(line);
            double x, y;
            if (!(ls >> x >> y)) {
                error = path + ": bad point line '" + line + "'";
                return false;
            }
            pts.push_back(x - 1.0);  // 1-based pixel centres -> 0-based
            pts.push_back(y - 1.0);
        }
    }
    if (declared != 68 || pts.size() != 136) {
        error = path + ": expected 68 points, found " + std::to_string(pts.size() / 2);
        return false;
    }
    dlib.swap(pts);
    return true;
}

bool listFaces300W(const std::string& dir, std::vector<Face300W>& faces, std::string& error) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        error = "cannot read the folder " + dir;
        return false;
    }
    std::set<std::string> jpg, pts;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".jpg") == 0) jpg.insert(n.substr(0, n.size() - 4));
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pts") == 0) pts.insert(n.substr(0, n.size() - 4));
    }
    closedir(d);
    faces.clear();
    size_t index = 0;
    for (const std::string& stem : jpg) {  // std::set: sorted by name
        if (!pts.count(stem)) continue;
        Face300W f;
        f.name = stem;
        f.validation = isValidationIndex(index++);
        std::string why;
        if (!readPts(dir + "/" + stem + ".pts", f.dlib, why)) {
            std::fprintf(stderr, "Error: %s (face skipped)\n", why.c_str());
            continue;
        }
        faces.push_back(std::move(f));
    }
    if (faces.empty()) {
        error = "no face (<name>.jpg with <name>.pts) in " + dir;
        return false;
    }
    return true;
}

Converter300W::Converter300W(const std::string& muctCsv) : model_(new labeller::PointShapeModel) {
    std::vector<labeller::MuctShape> muct;
    if (!labeller::loadMuctShapes(muctCsv, muct, error_)) return;
    std::vector<labeller::Shape68> complete;
    for (const auto& m : muct)
        if (std::all_of(m.present.begin(), m.present.end(), [](bool b) { return b; })) complete.push_back(m.points);
    if (!model_->build(complete, labeller::OURS_PARTNER, 0.98, error_)) return;
    converter_.reset(new labeller::DlibLayoutConverter(*model_));
    ok_ = true;
}

Converter300W::~Converter300W() = default;

bool Converter300W::convert(const ShapeVec& dlib, ShapeVec& ours) const {
    if (!ok_ || dlib.size() != 136) return false;
    labeller::Shape68 in, out;
    for (int i = 0; i < 68; ++i) in[i] = dlib::dpoint(dlib[2 * i], dlib[2 * i + 1]);
    if (!converter_->convert(in, out)) return false;
    ours.resize(136);
    for (int i = 0; i < 68; ++i) {
        ours[2 * i] = out[i].x();
        ours[2 * i + 1] = out[i].y();
    }
    return true;
}

}  // namespace trainer
}  // namespace kvo
