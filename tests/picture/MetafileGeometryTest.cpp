#include "picture/MetafileGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace driftpost::metafile {
namespace {

double Area(const std::vector<TPointD>& polygon) {
  double twice = 0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const TPointD a = polygon[i], b = polygon[(i + 1) % polygon.size()];
    twice += a.X * b.Y - b.X * a.Y;
  }
  return std::abs(twice) / 2;
}

// How often the polygon winds around the point, counter-clockwise positive.
int Winding(const std::vector<TPointD>& polygon, TPointD p) {
  int winding = 0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const TPointD a = polygon[i], b = polygon[(i + 1) % polygon.size()];
    const double side = (b.X - a.X) * (p.Y - a.Y) - (p.X - a.X) * (b.Y - a.Y);
    if (a.Y <= p.Y && b.Y > p.Y && side > 0) ++winding;
    if (a.Y > p.Y && b.Y <= p.Y && side < 0) --winding;
  }
  return winding;
}

TEST(MetafileGeometryTest, ClippedPolygonsKeepTheirAreaAndWindingInsideTheBox) {
  const TBoxD box{0, 0, 10, 10};
  const std::vector<TPointD> square{{-5, -5}, {5, -5}, {5, 5}, {-5, 5}};
  const std::vector<TPointD> clipped = ClipPolygon(square, box);
  EXPECT_DOUBLE_EQ(Area(clipped), 25);
  for (const TPointD& p : clipped) EXPECT_TRUE(p.X >= 0 && p.X <= 10 && p.Y >= 0 && p.Y <= 10);

  // Two loops through (3, 3), reaching far outside: inside the box every point keeps its
  // winding number, 2 where they overlap.
  const std::vector<TPointD> loops{{1, 1}, {1e9, 1}, {1e9, 5}, {1, 5}, {2, 1}, {5, -1e9}, {5, 5}, {2, 5}};
  const std::vector<TPointD> kept = ClipPolygon(loops, box);
  EXPECT_EQ(Winding(kept, {3, 3}), 2);
  for (TPointD p : {TPointD{3, 3}, TPointD{1.5, 4}, TPointD{8, 2}, TPointD{4.5, 0.5}})
    EXPECT_EQ(Winding(kept, p), Winding(loops, p)) << p.X << "," << p.Y;
  EXPECT_TRUE(ClipPolygon(square, TBoxD{20, 20, 30, 30}).empty());
}

TEST(MetafileGeometryTest, ClippedPolylinesKnowHowFarAlongEachPartStarts) {
  // Out, in for 4, out, in again for 4.
  const std::vector<TPointD> line{{-2, 1}, {12, 1}, {12, 5}, {-2, 5}};
  const std::vector<TClippedRun> runs = ClipPolyline(line, TBoxD{0, 0, 10, 10});
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_DOUBLE_EQ(runs[0].StartLength, 2);
  EXPECT_DOUBLE_EQ(runs[0].Points.front().X, 0);
  EXPECT_DOUBLE_EQ(runs[0].Points.back().X, 10);
  EXPECT_DOUBLE_EQ(runs[1].StartLength, 14 + 4 + 2);
  EXPECT_DOUBLE_EQ(runs[1].Points.back().X, 0);
}

TEST(MetafileGeometryTest, CurvesHaveBoundedPointsWhateverTheirSize) {
  std::vector<TPointD> small, huge;
  AppendArc(small, TBoxD{0, 0, 20, 10}, 0, 2 * std::numbers::pi, TMatrix{});
  EXPECT_GE(small.size(), 9u);
  for (const TPointD& p : small) EXPECT_NEAR(std::pow((p.X - 10) / 10, 2) + std::pow((p.Y - 5) / 5, 2), 1, 1e-9);
  AppendArc(huge, TBoxD{-1e12, -1e12, 1e12, 1e12}, 0, 2 * std::numbers::pi, TMatrix{1e6, 0, 0, 1e6, 0, 0});
  EXPECT_LE(huge.size(), static_cast<std::size_t>(MaxArcPoints) + 1);

  std::vector<TPointD> curve;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  AppendBezier(curve, {0, 0}, {1e300, 0}, {0, 1e300}, {1, 1});
  AppendBezier(curve, {0, 0}, {nan, 0}, {0, nan}, {1, 1});
  EXPECT_LE(curve.size(), 2u * MaxBezierPoints);
}

TEST(MetafileGeometryTest, ScanCostCountsTheEdgesEachRowCrosses) {
  // Two vertical edges 10 rows tall and the flat edges that join them.
  const TFigures bar{TFigure{{{2, 0}, {4, 0}, {4, 10}, {2, 10}}, true}};
  const TScanCost cost = ScanCost(bar, true, TBoxD{0, 0, 10, 10}, 0);
  EXPECT_NEAR(cost.Crossings, 22, 2);
  EXPECT_NEAR(cost.Pairs, 44, 12);
  // Outside the box nothing is counted.
  EXPECT_EQ(ScanCost(bar, true, TBoxD{0, 20, 10, 30}, 0).Crossings, 0);

  TMatrix inverse;
  const TMatrix m{2, 1, -1, 3, 5, 7};
  ASSERT_TRUE(m.Invert(inverse));
  const TPointD back = m.Then(inverse).Apply({3, -4});
  EXPECT_NEAR(back.X, 3, 1e-12);
  EXPECT_NEAR(back.Y, -4, 1e-12);
  EXPECT_FALSE((TMatrix{1, 2, 2, 4, 0, 0}).Invert(inverse));
}

}  // namespace
}  // namespace driftpost::metafile
