// Sizing, copying, element-wise operations, JSON reading and text form of NumberMat.
#include "math/NumberMat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "MatrixTestSupport.h"
#include "util/CoutCapture.h"

using kvo::NumberMat;
using kvo_test::CoutCapture;
using kvo_test::makeMat;

namespace {


// Counts calls that reach the virtual dim and dimJSON, to observe when the base class
// resizes and that readJSON dispatches through the virtual table.
class CountingMat : public NumberMat {
public:
    void dim(int r, int c) override {
        ++dimCalls;
        NumberMat::dim(r, c);
    }
    void dimJSON(const rapidjson::Value& v) override {
        ++dimJSONCalls;
        NumberMat::dimJSON(v);
    }
    int dimCalls = 0;
    int dimJSONCalls = 0;
};

void parse(rapidjson::Document& doc, const char* json) {
    doc.Parse(json);
    ASSERT_FALSE(doc.HasParseError()) << json;
}

}  // namespace

TEST(NumberMatSizing, ConstructionWithAndWithoutStorage) {
    NumberMat empty(3, 4, false);
    EXPECT_EQ(0, empty.rows);
    EXPECT_EQ(0, empty.cols);
    EXPECT_EQ(0, empty.numElements);
    EXPECT_TRUE(empty.data.empty());

    NumberMat m(3, 4, true);
    EXPECT_EQ(3, m.rows);
    EXPECT_EQ(4, m.cols);
    EXPECT_EQ(12, m.numElements);
    ASSERT_EQ(3u, m.data.size());
    for (const auto& row : m.data) EXPECT_EQ(std::vector<double>(4, 0.0), row);
}

TEST(NumberMatSizing, DimToTheSameSizeStillZeroes) {
    NumberMat m = makeMat({{1, 2}, {3, 4}});
    m.dim(2, 2);
    EXPECT_EQ(4, m.numElements);
    for (const auto& row : m.data) EXPECT_EQ(std::vector<double>(2, 0.0), row);
}

TEST(NumberMatSizing, DimToZeroRowsOrColumns) {
    NumberMat m = makeMat({{1, 2}, {3, 4}});
    m.dim(3, 0);
    EXPECT_EQ(3, m.rows);
    EXPECT_EQ(0, m.cols);
    EXPECT_EQ(0, m.numElements);
    m.dim(0, 5);
    EXPECT_EQ(0, m.rows);
    EXPECT_EQ(0, m.numElements);
    EXPECT_TRUE(m.data.empty());
}

TEST(NumberMatSizing, NegativeSizeIsReportedAndGivesEmpty) {
    NumberMat m = makeMat({{1, 2}});
    CoutCapture out;
    m.dim(-1, 3);
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(0u, out.text().find("Error: "));
    EXPECT_EQ(0, m.rows);
    EXPECT_EQ(0, m.cols);
    EXPECT_TRUE(m.data.empty());
}

TEST(NumberMatStatics, ScratchHasItsLoadTimeSizes) {
    EXPECT_EQ(4u, NumberMat::_permVec.size());
    EXPECT_EQ(4u, NumberMat::_xTmp.size());
    EXPECT_EQ(50u, NumberMat::_nos.size());
    EXPECT_EQ(4, NumberMat::_pLU.rows);
    EXPECT_EQ(4, NumberMat::_pLU.cols);
    EXPECT_EQ(16, NumberMat::_pLU.numElements);
}

TEST(NumberMatCopy, EqualSizeCopiesValuesWithoutResizing) {
    NumberMat src = makeMat({{1, 2, 3}, {4, 5, 6}});
    CountingMat dst;
    dst.NumberMat::dim(2, 3);
    const double* row0 = dst.data[0].data();
    dst.copyFrom(src);
    EXPECT_EQ(0, dst.dimCalls);
    EXPECT_EQ(row0, dst.data[0].data());  // same storage, values copied in
    EXPECT_EQ(src.data, dst.data);
    src.data[1][2] = 99;  // the copy owns its rows
    EXPECT_EQ(6, dst.data[1][2]);
}

TEST(NumberMatCopy, DifferentSizeResizesThroughDim) {
    NumberMat src = makeMat({{1, 2, 3}, {4, 5, 6}});
    CountingMat dst;
    dst.copyFrom(src);
    EXPECT_EQ(1, dst.dimCalls);
    EXPECT_EQ(2, dst.rows);
    EXPECT_EQ(3, dst.cols);
    EXPECT_EQ(6, dst.numElements);
    EXPECT_EQ(src.data, dst.data);
}

TEST(NumberMatCopy, SelfCopyKeepsValues) {
    NumberMat m = makeMat({{1, 2}, {3, 4}});
    m.copyFrom(m);
    EXPECT_EQ(makeMat({{1, 2}, {3, 4}}).data, m.data);
}

TEST(NumberMatColumnView, ViewAsColIsRowMajorAndFillRestores) {
    NumberMat src = makeMat({{1, 2}, {3, 4}, {5, 6}});
    CountingMat col;
    col.viewAsCol(src);
    EXPECT_EQ(1, col.dimCalls);
    ASSERT_EQ(6, col.rows);
    ASSERT_EQ(1, col.cols);
    EXPECT_EQ(6, col.numElements);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(k + 1.0, col.data[k][0]);

    NumberMat back(3, 2, true);
    back.fillWithRowVec(col);
    EXPECT_EQ(src.data, back.data);

    // A second view of the same size reuses the storage.
    src.data[2][1] = 60;
    col.viewAsCol(src);
    EXPECT_EQ(1, col.dimCalls);
    EXPECT_EQ(60, col.data[5][0]);
}

TEST(NumberMatColumnView, FillFromShortColumnIsRefused) {
    NumberMat col = makeMat({{1}, {2}, {3}});
    NumberMat m = makeMat({{9, 9}, {9, 9}});
    CoutCapture out;
    m.fillWithRowVec(col);
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(makeMat({{9, 9}, {9, 9}}).data, m.data);
}

TEST(NumberMatColumnView, FillUsesOnlyTheFirstRowsOfALongerColumn) {
    NumberMat col = makeMat({{1}, {2}, {3}, {4}, {5}});
    NumberMat m(2, 2, true);
    m.fillWithRowVec(col);
    EXPECT_EQ(makeMat({{1, 2}, {3, 4}}).data, m.data);
}

TEST(NumberMatElements, ColMinElem) {
    NumberMat m = makeMat({{3, -1}, {-2, 5}, {7, -4}});
    EXPECT_EQ(-2, m.colMinElem(0));
    EXPECT_EQ(-4, m.colMinElem(1));
    NumberMat empty;
    EXPECT_EQ(1.7976931348623157e308, empty.colMinElem(0));
    NumberMat noRows(0, 2, true);
    EXPECT_EQ(std::numeric_limits<double>::max(), noRows.colMinElem(1));
}

TEST(NumberMatElements, ColumnOutOfRangeIsReportedNotRead) {
    NumberMat m = makeMat({{3, -1}});
    CoutCapture out;
    EXPECT_EQ(std::numeric_limits<double>::max(), m.colMinElem(2));
    m.addScalarToCol(-1, 5.0);
    EXPECT_EQ(2, out.lines());
    EXPECT_EQ(makeMat({{3, -1}}).data, m.data);
}

TEST(NumberMatElements, AddScalarToColumnAndMultiplyByScalar) {
    NumberMat m = makeMat({{1, 2}, {3, 4}});
    m.addScalarToCol(1, 10);
    EXPECT_EQ(makeMat({{1, 12}, {3, 14}}).data, m.data);
    m.multiplyByScalar(-0.5);
    EXPECT_EQ(makeMat({{-0.5, -6}, {-1.5, -7}}).data, m.data);
}

TEST(NumberMatProducts, MultiplyKnownProduct) {
    NumberMat a = makeMat({{1, 2, 3}, {4, 5, 6}});
    NumberMat b = makeMat({{7, 8}, {9, 10}, {11, 12}});
    NumberMat c(2, 2, true);
    NumberMat::multiplyMats(a, b, c);
    EXPECT_EQ(makeMat({{58, 64}, {139, 154}}).data, c.data);
}

TEST(NumberMatProducts, MultiplyTakesBoundsFromTheResult) {
    // Only the first row of a and the first column of b are needed for a 1 x 1 result.
    NumberMat a = makeMat({{1, 2}, {3, 4}});
    NumberMat b = makeMat({{5, 6}, {7, 8}});
    NumberMat c(1, 1, true);
    NumberMat::multiplyMats(a, b, c);
    EXPECT_EQ(19, c.data[0][0]);
}

TEST(NumberMatProducts, MultiplyRefusesNonConformingOrAliasedOperands) {
    NumberMat a = makeMat({{1, 2, 3}});
    NumberMat b = makeMat({{1}, {2}});  // too few rows for a's 3 columns
    NumberMat c = makeMat({{42}});
    CoutCapture out;
    NumberMat::multiplyMats(a, b, c);
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(42, c.data[0][0]);

    NumberMat sq = makeMat({{1, 2}, {3, 4}});
    NumberMat other = makeMat({{1, 0}, {0, 1}});
    NumberMat::multiplyMats(sq, other, sq);
    EXPECT_EQ(2, out.lines());
    EXPECT_EQ(makeMat({{1, 2}, {3, 4}}).data, sq.data);
}

TEST(NumberMatProducts, AddIntoAnOperand) {
    NumberMat a = makeMat({{1, 2}, {3, 4}});
    NumberMat b = makeMat({{10, 20}, {30, 40}});
    NumberMat::addMats(a, b, a);
    EXPECT_EQ(makeMat({{11, 22}, {33, 44}}).data, a.data);
    NumberMat::addMats(a, b, b);
    EXPECT_EQ(makeMat({{21, 42}, {63, 84}}).data, b.data);
}

TEST(NumberMatProducts, AddRefusesTooSmallTarget) {
    NumberMat a = makeMat({{1, 2}, {3, 4}});
    NumberMat c = makeMat({{0, 0}});
    CoutCapture out;
    NumberMat::addMats(a, a, c);
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(makeMat({{0, 0}}).data, c.data);
}

TEST(NumberMatNormalize, UnitLengthAndTinyVectorsKept) {
    std::vector<double> v{3, 4};
    NumberMat::normalizeMe(v);
    EXPECT_NEAR(0.6, v[0], 1e-15);
    EXPECT_NEAR(0.8, v[1], 1e-15);

    std::vector<double> zero{0, 0, 0};
    NumberMat::normalizeMe(zero);
    EXPECT_EQ(std::vector<double>({0, 0, 0}), zero);

    std::vector<double> tiny{5e-11, 0};
    NumberMat::normalizeMe(tiny);
    EXPECT_EQ(5e-11, tiny[0]);

    std::vector<double> small{2e-10, 0};
    NumberMat::normalizeMe(small);
    EXPECT_NEAR(1.0, small[0], 1e-15);

    std::vector<double> none;
    NumberMat::normalizeMe(none);
    EXPECT_TRUE(none.empty());
}

TEST(NumberMatText, FormatsRowsWithSixDigits) {
    NumberMat m = makeMat({{1, 2.5}});
    EXPECT_EQ("rows: 1 cols: 2\n[\n[1,2.5]\n]\n", m.toString(false));
    EXPECT_EQ(m.toString(false), m.toString(true));

    NumberMat n = makeMat({{1234567, -0.000012345}, {1.0 / 3, 1e6}});
    EXPECT_EQ("rows: 2 cols: 2\n[\n[1.23457e+06,-1.2345e-05]\n[0.333333,1e+06]\n]\n",
              n.toString());

    NumberMat empty;
    EXPECT_EQ("rows: 0 cols: 0\n[\n]\n", empty.toString());
}

TEST(NumberMatJson, ReadsMatricesAndRowVectors) {
    rapidjson::Document doc;
    NumberMat m;
    parse(doc, "[[1, 2.5, -3], [4, 5, 6e2]]");
    m.readJSON(doc);
    EXPECT_EQ(2, m.rows);
    EXPECT_EQ(3, m.cols);
    EXPECT_EQ(6, m.numElements);
    EXPECT_EQ(makeMat({{1, 2.5, -3}, {4, 5, 600}}).data, m.data);

    parse(doc, "[1, 2, 3]");
    m.readJSON(doc);
    EXPECT_EQ(1, m.rows);
    EXPECT_EQ(3, m.cols);
    EXPECT_EQ(makeMat({{1, 2, 3}}).data, m.data);

    parse(doc, "[[1], [2], [3]]");
    m.readJSON(doc);
    EXPECT_EQ(3, m.rows);
    EXPECT_EQ(1, m.cols);
    EXPECT_EQ(makeMat({{1}, {2}, {3}}).data, m.data);
}

TEST(NumberMatJson, CompactCovarianceIsReadAsAFullArray) {
    // The reduction to one row is the model loader's business, not the reader's.
    rapidjson::Document doc;
    parse(doc, "[[0, 0, -9999], [0, 0, 2.5], [1, 1, 4]]");
    NumberMat m;
    m.readJSON(doc);
    EXPECT_EQ(makeMat({{0, 0, -9999}, {0, 0, 2.5}, {1, 1, 4}}).data, m.data);
}

TEST(NumberMatJson, ReadJsonDispatchesToTheOverride) {
    rapidjson::Document doc;
    parse(doc, "[[1, 2]]");
    CountingMat m;
    m.readJSON(doc);
    EXPECT_EQ(1, m.dimJSONCalls);
    EXPECT_EQ(1, m.dimCalls);
}

TEST(NumberMatJson, LongerRowsContributeTheirFirstColumns) {
    rapidjson::Document doc;
    parse(doc, "[[1, 2], [3, 4, 5]]");
    NumberMat m;
    m.readJSON(doc);
    EXPECT_EQ(makeMat({{1, 2}, {3, 4}}).data, m.data);
}

TEST(NumberMatJson, EmptyArrayGivesEmptyMatrixSilently) {
    rapidjson::Document doc;
    parse(doc, "[]");
    NumberMat m = makeMat({{1, 2}});
    CoutCapture out;
    m.readJSON(doc);
    EXPECT_EQ("", out.text());
    EXPECT_EQ(0, m.rows);
    EXPECT_EQ(0, m.cols);
}

TEST(NumberMatJson, MalformedValuesAreReportedAndLeaveEmpty) {
    const char* bad[] = {
        "{\"a\": 1}",         // not an array
        "7",                  // not an array
        "[\"1\", 2]",         // first element neither row nor number
        "[[1, 2], [3]]",      // short row
        "[[1, 2], 3]",        // row that is not an array
        "[[1, \"x\"]]",       // non-numeric element
        "[[1, 2], [3, null]]",
        "[1, [2]]",           // vector with a non-number
        "[[[1]]]",            // nested too deep
    };
    for (const char* json : bad) {
        rapidjson::Document doc;
        parse(doc, json);
        NumberMat m = makeMat({{1, 2}, {3, 4}});
        CoutCapture out;
        m.readJSON(doc);
        EXPECT_EQ(1, out.lines()) << json;
        EXPECT_EQ(0u, out.text().find("Error: ")) << json;
        EXPECT_EQ(0, m.rows) << json;
        EXPECT_EQ(0, m.cols) << json;
        EXPECT_EQ(0, m.numElements) << json;
        EXPECT_TRUE(m.data.empty()) << json;
    }
}

// A matrix times a column, from the matrix's transpose, gives multiplyMats' results bit
// for bit (the same sums in the same order), on values whose sums round.
TEST(NumberMatProducts, MultiplyByTransposedMatchesMultiplyMatsBitForBit) {
    const int n = 136, m = 131;
    NumberMat a(m, n, true), aT(n, m, true), x(n, 1, true), viaMats(m, 1, true), viaT(m, 1, true);
    unsigned seed = 12345u;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
    };
    for (int i = 0; i < m; ++i)
        for (int k = 0; k < n; ++k) aT.data[k][i] = a.data[i][k] = next() * 1e3;
    for (int k = 0; k < n; ++k) x.data[k][0] = next() / 7.0;
    NumberMat::multiplyMats(a, x, viaMats);
    NumberMat::multiplyByTransposed(aT, x, viaT);
    for (int i = 0; i < m; ++i) {
        ASSERT_EQ(std::memcmp(&viaMats.data[i][0], &viaT.data[i][0], sizeof(double)), 0) << i;
    }
    // A product into its own column, or longer than the transpose is wide, is refused.
    CoutCapture out;
    NumberMat big(m + 1, 1, true);
    big.data[0][0] = 42.0;
    NumberMat::multiplyByTransposed(aT, x, big);
    EXPECT_EQ(big.data[0][0], 42.0);
    NumberMat::multiplyByTransposed(aT, x, x);
    EXPECT_NE(out.text().find("Error: NumberMat::multiplyByTransposed"), std::string::npos);
}
