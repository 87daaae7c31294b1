#ifndef STAMPLINE_DECODE_LINE_FIT_H_
#define STAMPLINE_DECODE_LINE_FIT_H_

#include <cstddef>
#include <vector>

namespace stampline {

// The least-squares straight line through points given in order of x, and
// the largest distance (along y) of a point from it, without keeping every
// point: the sums are kept the numerically stable way, and the points that
// can be farthest from any line, those on the convex hull, are kept above
// and below. A steady signal's points lie close to a line, so its hull is a
// handful of points; a hull that grows past a few thousand (a speed that
// wanders all through a long file) is thinned, which can only make the
// distance found a little smaller.
class LineFit {
 public:
  // `x` must not decrease from one call to the next.
  void add(double x, double y);
  size_t count() const { return count_; }
  double slope() const;
  double intercept() const;
  // The largest |y - (intercept + slope * x)| over the points.
  double largestDistance() const;

 private:
  struct Point {
    double x, y;
  };
  static void extend(std::vector<Point>& hull, Point p, bool upper);

  size_t count_ = 0;
  double meanX_ = 0, meanY_ = 0, sxx_ = 0, sxy_ = 0;
  std::vector<Point> upper_, lower_;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_LINE_FIT_H_
