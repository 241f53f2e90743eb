#include "math/NumberMat.h"

#include "util/LoadOrder.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

// Scratch of the inversion and LU routines. Their initialisers use nothing defined in
// other translation units, so their order relative to other statics does not matter.
NumberMat NumberMat::_pLU KVO_LOAD_ORDER(KVO_ORDER_MATRIX_SCRATCH)(4, 4, true);
std::vector<int> NumberMat::_permVec KVO_LOAD_ORDER(KVO_ORDER_MATRIX_SCRATCH)(4, 0);
std::vector<double> NumberMat::_xTmp KVO_LOAD_ORDER(KVO_ORDER_MATRIX_SCRATCH)(4, 0.0);
std::vector<int> NumberMat::_nos KVO_LOAD_ORDER(KVO_ORDER_MATRIX_SCRATCH)(50, 0);

NumberMat::NumberMat(int r, int c, bool allocate) : cols(0), rows(0), numElements(0) {
    if (allocate) dim(r, c);
}

NumberMat::~NumberMat() {}

void NumberMat::dim(int r, int c) {
    const long long count = static_cast<long long>(r) * static_cast<long long>(c);
    if (r < 0 || c < 0 || count > std::numeric_limits<int32_t>::max()) {
        Err("NumberMat::dim: invalid size " + to_string(r) + " x " + to_string(c) + ".");
        r = 0;
        c = 0;
    }
    rows = r;
    cols = c;
    numElements = r * c;
    data.clear();
    data.resize(static_cast<size_t>(r), std::vector<double>(static_cast<size_t>(c), 0.0));
}

void NumberMat::readJSON(const rapidjson::Value& value) { dimJSON(value); }

namespace {

// True when `row` is an array whose first `n` elements are all numbers.
bool isNumberRow(const rapidjson::Value& row, rapidjson::SizeType n) {
    if (!row.IsArray() || row.Size() < n) return false;
    for (rapidjson::SizeType j = 0; j < n; ++j) {
        if (!row[j].IsNumber()) return false;
    }
    return true;
}

}  // namespace

void NumberMat::dimJSON(const rapidjson::Value& value) {
    const int32_t maxCount = std::numeric_limits<int32_t>::max();
    if (value.IsArray() && value.Empty()) {
        dim(0, 0);
        return;
    }
    if (value.IsArray() && value[0].IsArray()) {
        const rapidjson::SizeType nRows = value.Size();
        const rapidjson::SizeType nCols = value[0].Size();
        bool ok = static_cast<unsigned long long>(nRows) * nCols <=
                  static_cast<unsigned long long>(maxCount);
        for (rapidjson::SizeType i = 0; ok && i < nRows; ++i) ok = isNumberRow(value[i], nCols);
        if (ok) {
            dim(static_cast<int>(nRows), static_cast<int>(nCols));
            for (rapidjson::SizeType i = 0; i < nRows; ++i) {
                for (rapidjson::SizeType j = 0; j < nCols; ++j) data[i][j] = value[i][j].GetDouble();
            }
            return;
        }
        Err("NumberMat::dimJSON: every row must be an array of at least " + to_string(nCols) +
            " numbers.");
        dim(0, 0);
        return;
    }
    if (value.IsArray() && value[0].IsNumber()) {
        const rapidjson::SizeType n = value.Size();
        if (n <= static_cast<rapidjson::SizeType>(maxCount) && isNumberRow(value, n)) {
            dim(1, static_cast<int>(n));
            for (rapidjson::SizeType j = 0; j < n; ++j) data[0][j] = value[j].GetDouble();
            return;
        }
        Err("NumberMat::dimJSON: a row vector must hold only numbers.");
        dim(0, 0);
        return;
    }
    Err("NumberMat::dimJSON: expected an array of numbers or an array of rows of numbers.");
    dim(0, 0);
}

void NumberMat::multiplyByScalar(double s) {
    for (int i = 0; i < rows; ++i) {
        std::vector<double>& row = data[i];
        for (int j = 0; j < cols; ++j) row[j] *= s;
    }
}

std::string NumberMat::rowsText(const char* rowEnd) const {
    std::string out;
    for (int i = 0; i < rows; ++i) {
        out += "[";
        for (int j = 0; j < cols; ++j) {
            if (j > 0) out += ",";
            out += to_string(data[i][j]);
        }
        out += "]";
        out += rowEnd;
    }
    return out;
}

std::string NumberMat::toString(bool) const {
    return "rows: " + to_string(rows) + " cols: " + to_string(cols) + "\n[\n" + rowsText("\n") + "]\n";
}

void NumberMat::copyFrom(const NumberMat& src) {
    if (&src == this) return;
    if (src.rows != rows || src.cols != cols) dim(src.rows, src.cols);
    for (int i = 0; i < rows; ++i) {
        const std::vector<double>& from = src.data[i];
        std::vector<double>& to = data[i];
        for (int j = 0; j < cols; ++j) to[j] = from[j];
    }
}

void NumberMat::viewAsCol(const NumberMat& src) {
    if (&src == this) {
        Err("NumberMat::viewAsCol: a matrix cannot be viewed as a column in place.");
        return;
    }
    if (rows != src.numElements || cols != 1) dim(src.numElements, 1);
    int k = 0;
    for (int i = 0; i < src.rows; ++i) {
        for (int j = 0; j < src.cols; ++j) data[k++][0] = src.data[i][j];
    }
}

void NumberMat::fillWithRowVec(const NumberMat& v) {
    if (numElements > 0 && (v.rows < numElements || v.cols < 1)) {
        Err("NumberMat::fillWithRowVec: the column of " + to_string(v.rows) +
            " rows is shorter than the " + to_string(numElements) + " elements to fill.");
        return;
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) data[i][j] = v.data[i * cols + j][0];
    }
}

double NumberMat::colMinElem(int col) const {
    double m = std::numeric_limits<double>::max();
    if (rows > 0 && (col < 0 || col >= cols)) {
        Err("NumberMat::colMinElem: column " + to_string(col) + " out of range.");
        return m;
    }
    for (int i = 0; i < rows; ++i) {
        if (data[i][col] < m) m = data[i][col];
    }
    return m;
}

void NumberMat::addScalarToCol(int col, double s) {
    if (rows > 0 && (col < 0 || col >= cols)) {
        Err("NumberMat::addScalarToCol: column " + to_string(col) + " out of range.");
        return;
    }
    for (int i = 0; i < rows; ++i) data[i][col] += s;
}

void NumberMat::multiplyMats(const NumberMat& a, const NumberMat& b, NumberMat& c) {
    if (c.rows == 0 || c.cols == 0) return;
    if (&c == &a || &c == &b) {
        Err("NumberMat::multiplyMats: the product must go to a third matrix.");
        return;
    }
    if (a.rows < c.rows || a.cols < 1 || b.rows < a.cols || b.cols < c.cols) {
        Err("NumberMat::multiplyMats: sizes do not conform (" + to_string(a.rows) + " x " +
            to_string(a.cols) + " times " + to_string(b.rows) + " x " + to_string(b.cols) +
            " into " + to_string(c.rows) + " x " + to_string(c.cols) + ").");
        return;
    }
    const int inner = a.cols;
    constexpr int kColumnLimit = 512;
    if (c.cols == 1 && inner <= kColumnLimit) {
        // Matrix times column (the shape model's projections, 2n x 2n times 2n x 1): the
        // column is gathered once, and four rows are summed side by side so that their
        // additions overlap instead of each waiting for the one before. Each row's sum is
        // still formed term by term in k order, as below, so the results are the same.
        double x[kColumnLimit];
        for (int k = 0; k < inner; ++k) x[k] = b.data[k][0];
        int i = 0;
        for (; i + 4 <= c.rows; i += 4) {
            const double* a0 = a.data[i].data();
            const double* a1 = a.data[i + 1].data();
            const double* a2 = a.data[i + 2].data();
            const double* a3 = a.data[i + 3].data();
            double s0 = a0[0] * x[0], s1 = a1[0] * x[0], s2 = a2[0] * x[0], s3 = a3[0] * x[0];
            for (int k = 1; k < inner; ++k) {
                s0 += a0[k] * x[k];
                s1 += a1[k] * x[k];
                s2 += a2[k] * x[k];
                s3 += a3[k] * x[k];
            }
            c.data[i][0] = s0;
            c.data[i + 1][0] = s1;
            c.data[i + 2][0] = s2;
            c.data[i + 3][0] = s3;
        }
        for (; i < c.rows; ++i) {
            const double* ai = a.data[i].data();
            double sum = ai[0] * x[0];
            for (int k = 1; k < inner; ++k) sum += ai[k] * x[k];
            c.data[i][0] = sum;
        }
        return;
    }
    for (int i = 0; i < c.rows; ++i) {
        const std::vector<double>& ai = a.data[i];
        std::vector<double>& ci = c.data[i];
        for (int j = 0; j < c.cols; ++j) {
            double sum = ai[0] * b.data[0][j];
            for (int k = 1; k < inner; ++k) sum += ai[k] * b.data[k][j];
            ci[j] = sum;
        }
    }
}

void NumberMat::multiplyByTransposed(const NumberMat& aT, const NumberMat& x, NumberMat& c) {
    constexpr int kLimit = 512;
    if (c.rows == 0 || c.cols == 0) return;
    if (&c == &x || c.rows > aT.cols || c.rows > kLimit || aT.rows < 1 || x.rows < aT.rows || x.cols < 1) {
        Err("NumberMat::multiplyByTransposed: sizes do not conform (" + to_string(aT.rows) + " x " +
            to_string(aT.cols) + " transposed times " + to_string(x.rows) + " x " + to_string(x.cols) +
            " into " + to_string(c.rows) + " x " + to_string(c.cols) + ").");
        return;
    }
    const int n = c.rows;
    double sum[kLimit];
    const double* t0 = aT.data[0].data();
    const double x0 = x.data[0][0];
    for (int i = 0; i < n; ++i) sum[i] = t0[i] * x0;
    for (int k = 1; k < aT.rows; ++k) {
        const double* tk = aT.data[k].data();
        const double xk = x.data[k][0];
        for (int i = 0; i < n; ++i) sum[i] += tk[i] * xk;
    }
    for (int i = 0; i < n; ++i) c.data[i][0] = sum[i];
}

void NumberMat::addMats(const NumberMat& a, const NumberMat& b, NumberMat& c) {
    if (a.rows == 0 || a.cols == 0) return;
    if (b.rows < a.rows || b.cols < a.cols || c.rows < a.rows || c.cols < a.cols) {
        Err("NumberMat::addMats: sizes do not conform (" + to_string(a.rows) + " x " +
            to_string(a.cols) + ").");
        return;
    }
    for (int i = 0; i < a.rows; ++i) {
        const std::vector<double>& ai = a.data[i];
        const std::vector<double>& bi = b.data[i];
        std::vector<double>& ci = c.data[i];
        for (int j = 0; j < a.cols; ++j) ci[j] = ai[j] + bi[j];
    }
}

void NumberMat::invertMat(const NumberMat& src, NumberMat& dst) {
    if (src.rows != src.cols) {
        Err("NumberMat::invertMat: cannot invert a " + to_string(src.rows) + " x " +
            to_string(src.cols) + " matrix.");
        return;
    }
    if (src.rows > static_cast<int>(_nos.size())) {
        Err("NumberMat::invertMat: " + to_string(src.rows) + " x " + to_string(src.cols) +
            " is larger than the supported " + to_string(static_cast<int>(_nos.size())) + " x " +
            to_string(static_cast<int>(_nos.size())) + ".");
        return;
    }
    dst.copyFrom(src);
    const int n = dst.rows;
    if (n == 0) {
        Err("Mat.selfInvert(): dim == 0");
        return;
    }
    std::vector<std::vector<double> >& d = dst.data;
    if (n == 1) {
        d[0][0] = 1.0 / d[0][0];
        return;
    }
    for (int i = 0; i < n; ++i) _nos[i] = i;

    // Each step eliminates column 0 and shifts every row one place left, appending the
    // new column of the inverse on the right, so no storage beyond the rows is needed.
    for (int i = 0; i < n; ++i) {
        double maxMag = 0.0;
        int pivot = i;
        for (int l = i; l < n; ++l) {
            const double mag = std::fabs(d[l][0]);
            if (mag > maxMag) {
                maxMag = mag;
                pivot = l;
            }
        }
        if (maxMag == 0.0) return;  // singular: dst stays partly eliminated

        std::swap(_nos[pivot], _nos[i]);
        for (int k = 0; k < n; ++k) std::swap(d[pivot][k], d[i][k]);

        std::vector<double>& ri = d[i];
        const double c = ri[0];
        for (int k = 0; k < n - 1; ++k) ri[k] = ri[k + 1] / c;
        ri[n - 1] = 1.0 / c;

        for (int l = 0; l < n; ++l) {
            if (l == i) continue;
            std::vector<double>& rl = d[l];
            const double e = rl[0];
            for (int k = 0; k < n - 1; ++k) rl[k] = rl[k + 1] - ri[k] * e;
            rl[n - 1] = -e * ri[n - 1];
        }
    }

    // Undo the row exchanges, which appear in the inverse as a column permutation.
    for (int i = 0; i < n; ++i) {
        int j = i;
        while (j < n && _nos[j] != i) ++j;
        if (j == n || j == i) continue;
        _nos[j] = _nos[i];
        for (int l = 0; l < n; ++l) std::swap(d[l][i], d[l][j]);
    }
}

void NumberMat::gsl_linalg_LU_decomp(NumberMat& A, std::vector<int>& perm) {
    const int n = A.rows;
    if (A.cols != n || static_cast<int>(perm.size()) < n) {
        Err("NumberMat::gsl_linalg_LU_decomp: needs a square matrix and a permutation of its "
            "size (got " + to_string(A.rows) + " x " + to_string(A.cols) + " and " +
            to_string(static_cast<int>(perm.size())) + ").");
        return;
    }
    std::vector<std::vector<double> >& a = A.data;
    for (int j = 0; j < n - 1; ++j) {
        int p = j;
        double maxMag = std::fabs(a[j][j]);
        for (int i = j + 1; i < n; ++i) {
            const double mag = std::fabs(a[i][j]);
            if (mag > maxMag) {
                maxMag = mag;
                p = i;
            }
        }
        if (p != j) {
            a[j].swap(a[p]);
            std::swap(perm[j], perm[p]);
        }
        const double pivot = a[j][j];
        if (pivot == 0.0) continue;
        for (int i = j + 1; i < n; ++i) {
            std::vector<double>& ri = a[i];
            const std::vector<double>& rj = a[j];
            ri[j] = ri[j] / pivot;
            const double f = ri[j];
            for (int k = j + 1; k < n; ++k) ri[k] -= f * rj[k];
        }
    }
}

void NumberMat::gsl_linalg_LU_solve(const NumberMat& LU, const std::vector<int>& perm,
                                    std::vector<double>& b) {
    const int n = LU.rows;
    const size_t nb = b.size();
    bool ok = LU.cols == n && static_cast<size_t>(n) <= nb && nb <= _xTmp.size() &&
              perm.size() <= nb;
    for (size_t i = 0; ok && i < perm.size(); ++i) {
        ok = perm[i] >= 0 && static_cast<size_t>(perm[i]) < nb;
    }
    if (!ok) {
        Err("NumberMat::gsl_linalg_LU_solve: cannot solve a " + to_string(LU.rows) + " x " +
            to_string(LU.cols) + " system with " + to_string(static_cast<int>(nb)) +
            " right-hand values (at most " + to_string(static_cast<int>(_xTmp.size())) +
            " supported).");
        return;
    }
    for (size_t i = 0; i < nb; ++i) _xTmp[i] = b[i];
    for (size_t i = 0; i < perm.size(); ++i) b[i] = _xTmp[perm[i]];

    const std::vector<std::vector<double> >& a = LU.data;
    for (int i = 1; i < n; ++i) {
        double sum = 0.0;
        for (int j = 0; j < i; ++j) sum += a[i][j] * b[j];
        b[i] -= sum;
    }
    if (n == 0) return;
    b[n - 1] = b[n - 1] / a[n - 1][n - 1];
    for (int i = n - 2; i >= 0; --i) {
        double sum = 0.0;
        for (int j = i + 1; j < n; ++j) sum += a[i][j] * b[j];
        b[i] = (b[i] - sum) / a[i][i];
    }
}

void NumberMat::normalizeMe(std::vector<double>& v) {
    double sumSq = 0.0;
    for (double x : v) sumSq += x * x;
    const double norm = std::sqrt(sumSq);
    if (std::fabs(norm) < 1e-10) return;
    const double inv = 1.0 / norm;
    for (double& x : v) x *= inv;
}

}  // namespace kvo
