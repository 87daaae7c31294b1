#include "decode/line_fit.h"

#include <algorithm>
#include <cmath>

namespace stampline {
namespace {

constexpr size_t kMostHullPoints = 4096;

}  // namespace

void LineFit::add(double x, double y) {
  ++count_;
  const auto n = static_cast<double>(count_);
  const double dx = x - meanX_;
  meanX_ += dx / n;
  meanY_ += (y - meanY_) / n;
  sxx_ += dx * (x - meanX_);
  sxy_ += dx * (y - meanY_);
  extend(upper_, {x, y}, true);
  extend(lower_, {x, y}, false);
}

// Andrew's monotone chain, one side: a point that the new one sees past is
// no longer on the hull.
void LineFit::extend(std::vector<Point>& hull, Point p, bool upper) {
  while (hull.size() >= 2) {
    const Point& a = hull[hull.size() - 2];
    const Point& b = hull.back();
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    if (upper ? cross < 0 : cross > 0) break;
    hull.pop_back();
  }
  hull.push_back(p);
  if (hull.size() > kMostHullPoints) {
    std::vector<Point> thinned;
    for (size_t i = 0; i < hull.size(); i += 2) thinned.push_back(hull[i]);
    if (thinned.back().x != hull.back().x) thinned.push_back(hull.back());
    hull.swap(thinned);
  }
}

double LineFit::slope() const { return sxx_ > 0 ? sxy_ / sxx_ : 0; }

double LineFit::intercept() const { return meanY_ - slope() * meanX_; }

double LineFit::largestDistance() const {
  const double b = slope();
  const double a = intercept();
  double largest = 0;
  for (const std::vector<Point>* hull : {&upper_, &lower_}) {
    for (const Point& p : *hull) largest = std::max(largest, std::abs(p.y - (a + b * p.x)));
  }
  return largest;
}

}  // namespace stampline
