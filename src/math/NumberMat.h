#pragma once
// A dense matrix of doubles, stored as a vector of row vectors.
//
// What it represents: every matrix of the library - the shape model's mean shape,
// eigenvectors and eigenvalues, the working matrices of the shape search and the
// small linear systems it solves. data[i][j] is row i, column j. Each row is its own
// vector, so row exchanges swap whole rows without copying elements. A matrix owns
// its rows; copy values between matrices with copyFrom.
//
// Sizing: `dim` and `copyFrom` (when the size changes) allocate; every other
// operation works in place on existing storage, so once its operands are sized the
// per-frame code allocates nothing.
//
// Thread safety: none. A matrix may be read from several threads at once but not
// written concurrently. invertMat and the LU pair share the class-wide scratch
// (_pLU, _permVec, _xTmp, _nos): call them from one thread only (the tracker's).
#include <cstdint>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace kvo {

class NumberMat {
public:
    // Ensures: an empty 0 x 0 matrix; with `allocate`, rows x cols zeros.
    NumberMat(int rows = 0, int cols = 0, bool allocate = false);
    virtual ~NumberMat();

    // Re-creates the storage as rows x cols zeros (also when the size is unchanged).
    // Requires: rows >= 0 and cols >= 0; a negative size is reported and gives 0 x 0.
    virtual void dim(int rows, int cols);

    // Fills this matrix from a JSON value by calling dimJSON through the virtual table.
    virtual void readJSON(const rapidjson::Value& value);

    // Sizes and fills this matrix from a JSON array: an array of rows of numbers gives
    // a (outer length) x (first row's length) matrix; an array of numbers gives a
    // 1 x length row vector; an empty array gives 0 x 0. Anything else (not an array,
    // elements that are not numbers, rows shorter than the first) is reported with
    // one "Error: ..." line and leaves the matrix empty (0 x 0). Rows longer than the
    // first contribute only their first `cols` numbers.
    virtual void dimJSON(const rapidjson::Value& value);

    // Multiplies every element by s.
    virtual void multiplyByScalar(double s);

    // Text for diagnostics: "rows: R cols: C\n[\n" then "[v,v,...]\n" per row then
    // "]\n". The flag is ignored here (ShapeMat uses it).
    virtual std::string toString(bool verbose = false) const;

    // The rows as text, each "[v,v,...]" followed by `rowEnd` (values as by to_string);
    // the row part of toString here and in ShapeMat.
    std::string rowsText(const char* rowEnd) const;

    // Copies the values of src; calls dim(src.rows, src.cols) first only when the
    // sizes differ. Copying a matrix into itself does nothing.
    void copyFrom(const NumberMat& src);

    // Makes this a (src.numElements) x 1 column holding src in row-major order
    // (element (i, j) of src goes to row i * src.cols + j). Resizes only when needed.
    // Requires: &src != this.
    void viewAsCol(const NumberMat& src);

    // Inverse of viewAsCol: data[i][j] = v.data[i * cols + j][0]; keeps this size.
    // Requires: v has at least numElements rows and at least one column; otherwise
    // the call is reported and this matrix is left unchanged.
    void fillWithRowVec(const NumberMat& v);

    // Smallest value of column col; 1.7976931348623157e308 (the largest double) when
    // the matrix has no rows. Requires 0 <= col < cols when rows > 0.
    double colMinElem(int col) const;

    // Adds s to every element of column col. Requires 0 <= col < cols.
    void addScalarToCol(int col, double s);

    // c = a * b, each element summed as a[i][0]*b[0][j] + a[i][1]*b[1][j] + ... in
    // that order. Requires: c already c.rows x c.cols with a.rows >= c.rows,
    // b.rows >= a.cols, b.cols >= c.cols, and c distinct from a and b. A violation
    // is reported and c is left unchanged.
    static void multiplyMats(const NumberMat& a, const NumberMat& b, NumberMat& c);

    // c = a * x for a column x, given aT, the transpose of a: the same sums as
    // multiplyMats(a, x, c) (element i is a[i][0]*x[0] + a[i][1]*x[1] + ... in that
    // order), formed row of aT by row of aT so that neighbouring elements are summed
    // side by side. Requires: aT holds a's transpose exactly; c.rows <= aT.cols and at
    // most 512; x.rows >= aT.rows; c distinct from x. A violation is reported and c is
    // left unchanged.
    static void multiplyByTransposed(const NumberMat& aT, const NumberMat& x, NumberMat& c);

    // c = a + b over a's rows and columns. c may be a or b. Requires b and c at least
    // a's size; a violation is reported and c is left unchanged.
    static void addMats(const NumberMat& a, const NumberMat& b, NumberMat& c);

    // dst = src^-1 by Gauss-Jordan elimination with partial pivoting; src unchanged.
    // A 0 x 0 src reports "Mat.selfInvert(): dim == 0" (dst becomes the empty copy).
    // A singular src (zero pivot) stops silently with dst partly eliminated.
    // Requires: src square and at most 50 x 50 (the size of _nos); otherwise the call
    // is reported and dst is left unchanged.
    static void invertMat(const NumberMat& src, NumberMat& dst);

    // In-place LU decomposition (unit lower triangle) of the square matrix A with
    // partial pivoting; perm must hold 0, 1, ..., n-1 on entry and receives the row
    // exchanges. A zero pivot column is skipped silently.
    // Requires: A square, perm.size() >= A.rows; otherwise reported, nothing changed.
    static void gsl_linalg_LU_decomp(NumberMat& A, std::vector<int>& perm);

    // Solves A x = b from the result of gsl_linalg_LU_decomp; x replaces b.
    // Requires: LU square with n = LU.rows, n <= b.size() <= 4 (the size of _xTmp),
    // perm.size() <= b.size() with every entry in [0, b.size()); otherwise the call is
    // reported and b is left unchanged.
    static void gsl_linalg_LU_solve(const NumberMat& LU, const std::vector<int>& perm,
                                    std::vector<double>& b);

    // Scales v to unit Euclidean length; a vector of norm below 1e-10 is unchanged.
    static void normalizeMe(std::vector<double>& v);

    int32_t cols;
    int32_t rows;
    int32_t numElements;  // rows * cols
    std::vector<std::vector<double> > data;

    // Class-wide scratch of the inversion and LU routines, created at library load.
    static NumberMat _pLU;             // 4 x 4 zeros; the alignment system copied in
    static std::vector<int> _permVec;  // 4 ints; LU permutation
    static std::vector<double> _xTmp;  // 4 doubles; gsl_linalg_LU_solve scratch
    static std::vector<int> _nos;      // 50 ints; invertMat column permutation
};

}  // namespace kvo
