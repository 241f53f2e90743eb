#include "refine/RefinerModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kvo {

namespace {

// Reads little-endian values from a byte string; every read checks the length first.
class ByteReader {
public:
    explicit ByteReader(const std::string& bytes) : data_(bytes) {}

    bool u32(std::uint32_t& v) {
        unsigned char b[4];
        if (!raw(b, 4)) return false;
        v = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        return true;
    }
    bool u16(std::uint16_t& v) {
        unsigned char b[2];
        if (!raw(b, 2)) return false;
        v = static_cast<std::uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    bool i16(std::int16_t& v) {
        std::uint16_t u = 0;
        if (!u16(u)) return false;
        v = static_cast<std::int16_t>(u);
        return true;
    }
    bool f32(float& v) {
        std::uint32_t u = 0;
        if (!u32(u)) return false;
        std::memcpy(&v, &u, 4);
        return std::isfinite(v);
    }
    bool raw(void* out, std::size_t n) {
        if (data_.size() - pos_ < n) return false;
        std::memcpy(out, data_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    std::size_t left() const { return data_.size() - pos_; }

private:
    const std::string& data_;
    std::size_t pos_ = 0;
};

class ByteWriter {
public:
    void u32(std::uint32_t v) {
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xff));
    }
    void u16(std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xff));
        out.push_back(static_cast<char>(v >> 8));
    }
    void f32(float v) {
        std::uint32_t u = 0;
        std::memcpy(&u, &v, 4);
        u32(u);
    }
    std::string out;
};

bool fail(RefinerModel& model, std::string& error, const std::string& what) {
    model = RefinerModel();
    error = what;
    return false;
}

bool parseLevel(ByteReader& in, const RefinerModel& m, int index, RefinerLevel& level,
                std::string& what) {
    const std::string at = "level " + std::to_string(index) + ": ";
    if (!in.f32(level.leafScale) || !(level.leafScale > 0.0f)) {
        what = at + "the leaf scale is missing, not finite or not positive";
        return false;
    }
    std::uint32_t pool = 0;
    if (!in.u32(pool) || pool < 1 || pool > static_cast<std::uint32_t>(RefinerModel::MAX_POOL)) {
        what = at + "the pixel pool size is missing or outside 1..65535";
        return false;
    }
    // Each pool entry takes 10 bytes: refuse a count the rest of the data cannot hold
    // before sizing anything by it.
    if (in.left() < static_cast<std::size_t>(pool) * 10) {
        what = at + "the data ends inside the pixel pool";
        return false;
    }
    level.anchors.resize(pool);
    level.offsets.resize(2 * static_cast<std::size_t>(pool));
    for (std::uint32_t p = 0; p < pool; ++p) {
        if (!in.u16(level.anchors[p]) || level.anchors[p] >= m.landmarks) {
            what = at + "pool pixel " + std::to_string(p) + " follows a landmark the model does not have";
            return false;
        }
        if (!in.f32(level.offsets[2 * p]) || !in.f32(level.offsets[2 * p + 1])) {
            what = at + "pool pixel " + std::to_string(p) + " has an offset that is not finite";
            return false;
        }
    }
    std::uint32_t basis = 0;
    if (!in.u32(basis) || basis > static_cast<std::uint32_t>(2 * m.landmarks)) {
        what = at + "the basis size is missing or above twice the landmark count";
        return false;
    }
    level.basisSize = static_cast<int>(basis);
    if (static_cast<std::uint64_t>(in.left()) < static_cast<std::uint64_t>(basis) * 2 * m.landmarks * 4) {
        what = at + "the data ends inside the basis";
        return false;
    }
    level.basis.resize(static_cast<std::size_t>(basis) * 2 * m.landmarks);
    for (float& v : level.basis) {
        if (!in.f32(v)) {
            what = at + "the basis holds a value that is not finite";
            return false;
        }
    }
    std::uint32_t trees = 0;
    if (!in.u32(trees) || trees > static_cast<std::uint32_t>(RefinerModel::MAX_TREES)) {
        what = at + "the tree count is missing or above 100000";
        return false;
    }
    const std::size_t inner = static_cast<std::size_t>(m.innerNodes());
    const std::size_t leafValues = static_cast<std::size_t>(m.leavesPerTree()) * m.leafWidth(level);
    // In 64 bits: on a 32-bit build the product of a large count could wrap around.
    if (static_cast<std::uint64_t>(in.left()) <
        static_cast<std::uint64_t>(trees) * (static_cast<std::uint64_t>(inner) * 6 + leafValues)) {
        what = at + "the data ends inside the trees";
        return false;
    }
    level.trees = static_cast<int>(trees);
    level.splits.resize(trees * inner);
    level.leaves.resize(trees * leafValues);
    for (std::uint32_t t = 0; t < trees; ++t) {
        for (std::size_t k = 0; k < inner; ++k) {
            RefinerSplit& s = level.splits[t * inner + k];
            in.u16(s.a);
            in.u16(s.b);
            in.i16(s.threshold);
            if (s.a >= pool || s.b >= pool) {
                what = at + "tree " + std::to_string(t) + " reads a pixel outside its pool";
                return false;
            }
        }
        in.raw(&level.leaves[t * leafValues], leafValues);
    }
    return true;
}

}  // namespace

int RefinerModel::largestPool() const {
    std::size_t p = 0;
    for (const RefinerLevel& l : levels) p = std::max(p, l.anchors.size());
    return static_cast<int>(p);
}

bool parseRefinerModel(const std::string& bytes, RefinerModel& model, std::string& error) {
    model = RefinerModel();
    ByteReader in(bytes);
    char magic[4] = {0, 0, 0, 0};
    if (!in.raw(magic, 4) || std::memcmp(magic, "KVRF", 4) != 0) {
        return fail(model, error, "the refiner model does not start with its signature KVRF");
    }
    std::uint32_t version = 0, n = 0, levels = 0, depth = 0;
    if (!in.u32(version) || version != RefinerModel::VERSION) {
        return fail(model, error, "the refiner model's version is not 1");
    }
    if (!in.u32(n) || n < 1 || n > static_cast<std::uint32_t>(RefinerModel::MAX_LANDMARKS)) {
        return fail(model, error, "the refiner model's landmark count is missing or outside 1..255");
    }
    if (!in.u32(levels) || levels < 1 || levels > static_cast<std::uint32_t>(RefinerModel::MAX_LEVELS)) {
        return fail(model, error, "the refiner model's level count is missing or outside 1..64");
    }
    if (!in.u32(depth) || depth < 1 || depth > static_cast<std::uint32_t>(RefinerModel::MAX_DEPTH)) {
        return fail(model, error, "the refiner model's tree depth is missing or outside 1..8");
    }
    RefinerModel m;
    m.landmarks = static_cast<int>(n);
    m.depth = static_cast<int>(depth);
    m.meanShape.resize(2 * n);
    for (float& v : m.meanShape) {
        if (!in.f32(v)) return fail(model, error, "the refiner model's mean shape is cut short or not finite");
    }
    m.levels.resize(levels);
    for (std::uint32_t l = 0; l < levels; ++l) {
        std::string what;
        if (!parseLevel(in, m, static_cast<int>(l), m.levels[l], what)) {
            return fail(model, error, "the refiner model's " + what);
        }
    }
    if (in.left() != 0) {
        return fail(model, error, "the refiner model has " + std::to_string(in.left()) +
                                      " bytes after its last level");
    }
    model = std::move(m);
    error.clear();
    return true;
}

std::string serializeRefinerModel(const RefinerModel& model) {
    ByteWriter w;
    w.out.append("KVRF", 4);
    w.u32(RefinerModel::VERSION);
    w.u32(static_cast<std::uint32_t>(model.landmarks));
    w.u32(static_cast<std::uint32_t>(model.levels.size()));
    w.u32(static_cast<std::uint32_t>(model.depth));
    for (float v : model.meanShape) w.f32(v);
    for (const RefinerLevel& l : model.levels) {
        w.f32(l.leafScale);
        w.u32(static_cast<std::uint32_t>(l.anchors.size()));
        for (std::size_t p = 0; p < l.anchors.size(); ++p) {
            w.u16(l.anchors[p]);
            w.f32(l.offsets[2 * p]);
            w.f32(l.offsets[2 * p + 1]);
        }
        w.u32(static_cast<std::uint32_t>(l.basisSize));
        for (float v : l.basis) w.f32(v);
        w.u32(static_cast<std::uint32_t>(l.trees));
        const std::size_t inner = static_cast<std::size_t>(model.innerNodes());
        const std::size_t leafValues = static_cast<std::size_t>(model.leavesPerTree()) * model.leafWidth(l);
        for (int t = 0; t < l.trees; ++t) {
            for (std::size_t k = 0; k < inner; ++k) {
                const RefinerSplit& s = l.splits[t * inner + k];
                w.u16(s.a);
                w.u16(s.b);
                w.u16(static_cast<std::uint16_t>(s.threshold));
            }
            w.out.append(reinterpret_cast<const char*>(&l.leaves[t * leafValues]), leafValues);
        }
    }
    return w.out;
}

}  // namespace kvo
