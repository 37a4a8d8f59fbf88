#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/TestSupport.h"
#include "numerics/LxFloatMatrix.h"

namespace morvex {
namespace {

using test::MessageOf;

using Rows = std::vector<std::vector<Extended>>;

std::shared_ptr<ILxFloatMatrix> Mat(const Rows& rows) {
  auto m = CreateMatrix(static_cast<int64_t>(rows.size()), static_cast<int64_t>(rows[0].size()));
  for (uint32_t r = 1; r <= rows.size(); ++r)
    for (uint32_t c = 1; c <= rows[0].size(); ++c) m->SetItem(r, c, rows[r - 1][c - 1]);
  return m;
}

Rows RowsOf(const ILxFloatMatrix& m) {
  Rows rows(m.GetRowCount(), std::vector<Extended>(m.GetColCount()));
  for (uint32_t r = 1; r <= m.GetRowCount(); ++r)
    for (uint32_t c = 1; c <= m.GetColCount(); ++c) rows[r - 1][c - 1] = m.GetItem(r, c);
  return rows;
}

// Largest row sum of magnitudes.
Extended NormInf(const ILxFloatMatrix& m) {
  Extended norm = 0;
  for (uint32_t r = 1; r <= m.GetRowCount(); ++r) {
    Extended sum = 0;
    for (uint32_t c = 1; c <= m.GetColCount(); ++c) sum += std::fabs(m.GetItem(r, c));
    norm = std::max(norm, sum);
  }
  return norm;
}

// Largest |(A * A^-1 - I)(r, c)|.
Extended IdentityResidual(const ILxFloatMatrix& a, const ILxFloatMatrix& inverse) {
  auto product = a.Multiplied(inverse);
  auto identity = CreateMatrix(a.GetRowCount(), a.GetColCount());
  identity->SetIdentity();
  product->Subtract(*identity);
  Extended worst = 0;
  for (const auto& row : RowsOf(*product))
    for (Extended x : row) worst = std::max(worst, std::fabs(x));
  return worst;
}

TEST(TMatrix, CreationChecksRowsBeforeColumns) {
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(0, 3); }), "RowCount < 1 not allowed");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(3, 0); }), "ColCount < 1 not allowed");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(0, 0); }), "RowCount < 1 not allowed");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(int64_t{1} << 28, 0); }),
            "RowCount > TLxFloatMatrixBounds not allowed");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(1, int64_t{1} << 28); }),
            "ColCount > TLxFloatMatrixBounds not allowed");
}

TEST(TMatrix, ItemBoundsAreCheckedUpperBeforeZero) {
  auto m = CreateMatrix(3, 3);
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->GetItem(0, 0); }), "Row 0 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->GetItem(4, 0); }), "Row 4 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->GetItem(0, 4); }), "Column 4 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->SetItem(1, 0, 1); }), "Column 0 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->GetRow(4); }), "Row 4 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->GetColumn(0); }), "Col 0 out of bounds");
  // The vector's size is checked before the index.
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->SetRow(0, *CreateFloatVector(2)); }),
            "SetRow failed: Dimension of v must be 3");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->SetColumn(9, *CreateFloatVector(4)); }),
            "SetCol failed: Dimension of v must be 3");
  EXPECT_EQ(MessageOf<Exception>([&] { m->SwapRows(1, 4); }), "r2 is out of bounds");
  EXPECT_EQ(MessageOf<Exception>([&] { m->AddColumnMultiple(0, 1, 2); }), "c1 is out of bounds");
}

TEST(TMatrix, ResizingKeepsElementsInPlace) {
  auto m = Mat({{1, 2}, {3, 4}});
  m->SetColCount(3);
  EXPECT_EQ(RowsOf(*m), (Rows{{1, 2, 0}, {3, 4, 0}}));
  m->SetSize(3, 1);
  EXPECT_EQ(RowsOf(*m), (Rows{{1}, {3}, {0}}));
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->SetRowCount(0); }),
            "Cannot create matrix with 0 rows");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->SetColCount(1u << 28); }),
            "Cannot create matrix with 268435456 columns");
}

TEST(TMatrix, RowColumnAndVectorOperations) {
  auto m = Mat({{1, 2}, {3, 4}});
  auto v = CreateFloatVector(2);
  v->SetItem(1, 10);
  v->SetItem(2, 20);
  EXPECT_EQ(m->RowDotVector(2, *v), 110);
  EXPECT_EQ(m->ColumnPlusVector(1, *v)->ToString(), "{ 11, 23 }");
  m->AddVectorToColumn(2, *v);
  EXPECT_EQ(RowsOf(*m), (Rows{{1, 12}, {3, 24}}));
  m->AddRowMultiple(1, 2, -3);
  EXPECT_EQ(RowsOf(*m), (Rows{{1, 12}, {0, -12}}));
  EXPECT_EQ(MessageOf<Exception>([&] { m->RowPlusVector(1, *CreateFloatVector(3)); }),
            "Dimension of v does not match ColCount");
}

TEST(TMatrix, MatrixVectorProductMayWriteIntoItsInput) {
  auto m = Mat({{1, 2}, {3, 4}});
  auto v = CreateFloatVector(2);
  v->SetItem(1, 1);
  v->SetItem(2, 1);
  m->MultiplyVector(*v, *v);
  EXPECT_EQ(v->ToString(), "{ 3, 7 }");
  EXPECT_EQ(MessageOf<Exception>([&] { m->MultiplyVector(*v, *CreateFloatVector(3)); }),
            "Dimension of result does not match RowCount");
  m->ReplaceByVectorProduct(*v);
  EXPECT_EQ(RowsOf(*m), (Rows{{17}, {37}}));
}

TEST(TMatrix, ProductsSumsAndTranspose) {
  auto a = Mat({{1, 2, 3}, {4, 5, 6}});
  auto b = Mat({{1, 0}, {0, 1}, {1, 1}});
  EXPECT_EQ(RowsOf(*a->Multiplied(*b)), (Rows{{4, 5}, {10, 11}}));
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { a->Multiply(*a); }),
            "Dimension of matrices does not match for multiplication");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { a->Add(*b); }),
            "Cannot add matrices of different sizes");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { a->Subtract(*b); }),
            "Cannot add matrices of different sizes");
  a->Transpose();
  EXPECT_EQ(RowsOf(*a), (Rows{{1, 4}, {2, 5}, {3, 6}}));
  EXPECT_EQ(RowsOf(*a->Added(*b)), (Rows{{2, 4}, {2, 6}, {4, 7}}));
  auto id = CreateMatrix(2, 3);
  id->Fill(5);
  id->SetIdentity();
  EXPECT_EQ(RowsOf(*id), (Rows{{1, 0, 0}, {0, 1, 0}}));
}

TEST(TMatrix, InvertSwapsRowsForAZeroPivot) {
  auto m = Mat({{0, 1}, {1, 0}});
  m->Invert();
  EXPECT_EQ(RowsOf(*m), (Rows{{0, 1}, {1, 0}}));
}

TEST(TMatrix, InvertUsesAnAbsoluteSingularityThreshold) {
  for (const Rows& rows : {Rows{{1e-20L}}, Rows{{1, 2}, {2, 4}}, Rows{{1e-19L, 0}, {0, 1e-19L}},
                           Rows{{0, 0}, {0, 1}}}) {
    auto m = Mat(rows);
    EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->Invert(); }), "Invert: Singular matrix");
  }
  auto tiny = Mat({{1e-18L}});
  tiny->Invert();
  EXPECT_NEAR(static_cast<double>(tiny->GetItem(1, 1) / 1e18L), 1.0, 1e-18);
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(2, 3)->Invert(); }),
            "Invert called on non square matrix");
}

TEST(TMatrix, InverseOfRandomMatricesIsAccurate) {
  SetRandSeed(12345);
  for (uint32_t n : {1u, 2u, 5u, 12u}) {
    auto a = CreateMatrix(n, n);
    a->FillRandomNormal(0, 1);
    auto inverse = a->Inverse();
    const Extended tolerance = 10 * n * MachineEpsilon() * NormInf(*a) * NormInf(*inverse);
    EXPECT_LE(IdentityResidual(*a, *inverse), tolerance) << "n = " << n;
    auto back = inverse->Inverse();
    back->Subtract(*a);
    EXPECT_LE(NormInf(*back), tolerance * NormInf(*a)) << "n = " << n;
  }
  SetRandSeed(0);
}

TEST(TMatrix, InverseOfHilbertMatricesIsAccurateToTheirCondition) {
  for (uint32_t n : {3u, 6u, 10u}) {
    auto h = CreateMatrix(n, n);
    h->FillFromFunction([](uint32_t r, uint32_t c) { return 1.0L / (r + c - 1); });
    auto inverse = h->Inverse();
    const Extended tolerance = 10 * n * MachineEpsilon() * NormInf(*h) * NormInf(*inverse);
    EXPECT_LE(IdentityResidual(*h, *inverse), tolerance) << "n = " << n;
  }
  // The exact inverse of the 3 x 3 Hilbert matrix is integral.
  auto h3 = Mat({{1, 1.0L / 2, 1.0L / 3}, {1.0L / 2, 1.0L / 3, 1.0L / 4}, {1.0L / 3, 1.0L / 4, 1.0L / 5}});
  h3->Invert();
  EXPECT_NEAR(static_cast<double>(h3->GetItem(2, 2)), 192.0, 1e-12);
}

TEST(TMatrix, DeterminantByCofactors) {
  EXPECT_EQ(Mat({{3, 8}, {4, 6}})->Determinant(), 3 * 6 - 8 * 4);
  EXPECT_EQ(Mat({{6, 1, 1}, {4, -2, 5}, {2, 8, 7}})->Determinant(), -306);
  EXPECT_EQ(Mat({{-7}})->Determinant(), -7);
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateMatrix(3, 4)->Determinant(); }),
            "Det called on non square matrix");
}

TEST(TMatrix, ArithmeticFaultsAreRaised) {
  auto m = Mat({{1e4000L, 1}});
  EXPECT_THROW(m->MultiplyScalar(1e4000L), EOverflow);
  EXPECT_THROW(Mat({{1e3000L, 1e3000L}, {1, 1e3000L}})->Determinant(), EOverflow);
}

TEST(TMatrix, TextForms) {
  auto m = Mat({{1, -2.5}, {0, 3}});
  EXPECT_EQ(m->ToString(), "{ { 1, -2.5 }, { 0, 3 } }");
  std::vector<std::string> lines;
  m->SaveToStrings(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"2", "2", "1", "-2.5", "0", "3"}));
  auto back = CreateMatrix(1, 1);
  back->LoadFromStrings(lines, 0);
  EXPECT_EQ(RowsOf(*back), RowsOf(*m));
}

TEST(TMatrix, LoadFromStringsFailureShowsTheMessage) {
  std::vector<std::string> shown;
  SetMessageSink([&](const std::string& text) { shown.push_back(text); });
  auto m = CreateMatrix(1, 1);
  for (const auto& lines : std::vector<std::vector<std::string>>{
           {"2", "1", "1", "x"}, {"2", "2", "1"}, {"0", "1"}, {"100000", "100000", "1"}, {"1"}}) {
    EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { m->LoadFromStrings(lines, 0); }),
              "Can't get matrix from strings.");
  }
  SetMessageSink(nullptr);
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0], "List of strings had at least one non numeric expression.");
}

TEST(TMatrix, StreamRoundTripIsExactAndAllOrNothing) {
  auto m = Mat({{1.0L / 3, -2}, {1e-300L, 7}, {0, 1}});
  std::stringstream stream;
  m->SaveToStream(stream);
  EXPECT_EQ(stream.str().size(), 8u + 6 * 10);
  EXPECT_EQ(stream.str().substr(0, 8), std::string("\x03\0\0\0\x02\0\0\0", 8));
  auto back = CreateMatrix(1, 1);
  back->LoadFromStream(stream);
  EXPECT_EQ(RowsOf(*back), RowsOf(*m));

  std::stringstream truncated(stream.str().substr(0, 30));
  auto kept = Mat({{5}});
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { kept->LoadFromStream(truncated); }),
            "Stream read error");
  EXPECT_EQ(RowsOf(*kept), (Rows{{5}}));
}

TEST(TMatrix, FilesHoldSizesAndRowTexts) {
  const std::string path = std::string(MORVEX_BINARY_DIR) + "/matrix_test_output.txt";
  auto read = [&] {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  };
  auto m = Mat({{1, -2}, {1500, 0.5}});
  m->SaveToFile(path);
  EXPECT_EQ(read(), "2\n2\n{ 1, -2 }\n{ 1500, 0.5 }\n");
  m->SaveToFileAsBlock(path, "K", 2, 2);
  EXPECT_EQ(read(), "K=\n{\n{ 1.0*10^+00, -2.0*10^+00 },\n{ 1.5*10^+03, 5.0*10^-01 }\n}\n");
  std::remove(path.c_str());
  EXPECT_THROW(m->SaveToFile(std::string(MORVEX_BINARY_DIR) + "/no/such/dir/m.txt"), EWriteError);
}

class FakeGrid : public IStringGridTarget {
 public:
  void SetColCount(int count) override { cols = count; }
  void SetRowCount(int count) override { rows = count; }
  void SetCell(int col, int row, const std::string& text) override { cells[{col, row}] = text; }
  int TextWidth(const std::string& text) const override { return 7 * static_cast<int>(text.size()); }
  void SetColWidth(int col, int width) override { widths[col] = width; }

  int cols = 0, rows = 0;
  std::map<std::pair<int, int>, std::string> cells;
  std::map<int, int> widths;
};

TEST(TMatrix, ShowInGridLabelsRowsAndColumns) {
  FakeGrid grid;
  Mat({{1, -2.5}, {1000, 0}, {3, 4}})->ShowInGrid(grid);
  EXPECT_EQ(grid.cols, 3);
  EXPECT_EQ(grid.rows, 4);
  EXPECT_EQ(grid.cells[std::make_pair(0, 3)], "3");
  EXPECT_EQ(grid.cells[std::make_pair(2, 0)], "2");
  EXPECT_EQ(grid.cells[std::make_pair(2, 1)], "-2.5");  // (column 2, row 1)
  EXPECT_EQ(grid.cells[std::make_pair(1, 2)], "1000");
  EXPECT_EQ(grid.widths[0], 7 + 30);
  EXPECT_EQ(grid.widths[1], 28 + 30);
  EXPECT_EQ(grid.widths[2], 28 + 30);
  EXPECT_EQ(MessageOf<Exception>([&] { CreateMatrix(101, 1)->ShowInGrid(grid); }),
            "Matrix too large to display in Stringgrid");
}

}  // namespace
}  // namespace morvex
