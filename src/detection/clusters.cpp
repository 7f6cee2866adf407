#include "detection/clusters.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/json_text.h"

namespace ravdel {
namespace {

struct Pixel {
  std::int32_t x;
  std::int32_t y;
};

std::uint8_t levelAt(const FrameBitmap& frame, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = frame.row(y) + 3 * static_cast<std::size_t>(x);
  return std::max({p[0], p[1], p[2]});
}

// Length along the principal axis of the pixels' spread and the width across it, each as the
// span of the pixel centres' projections plus one pixel.
void measureShape(const std::vector<Pixel>& pixels, Cluster& c) {
  double mx = 0, my = 0;
  for (const Pixel& p : pixels) {
    mx += p.x;
    my += p.y;
  }
  const auto n = static_cast<double>(pixels.size());
  mx /= n;
  my /= n;
  double sxx = 0, syy = 0, sxy = 0;
  for (const Pixel& p : pixels) {
    sxx += (p.x - mx) * (p.x - mx);
    syy += (p.y - my) * (p.y - my);
    sxy += (p.x - mx) * (p.y - my);
  }
  const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
  const double ux = std::cos(angle), uy = std::sin(angle);
  double alongLo = 0, alongHi = 0, acrossLo = 0, acrossHi = 0;
  for (const Pixel& p : pixels) {
    const double along = (p.x - mx) * ux + (p.y - my) * uy;
    const double across = -(p.x - mx) * uy + (p.y - my) * ux;
    alongLo = std::min(alongLo, along);
    alongHi = std::max(alongHi, along);
    acrossLo = std::min(acrossLo, across);
    acrossHi = std::max(acrossHi, across);
  }
  c.length = alongHi - alongLo + 1;
  c.elongation = c.length / (acrossHi - acrossLo + 1);
}

class ClusterFinder {
 public:
  ClusterFinder(const FrameBitmap& frame, const ClusterSettings& settings)
      : frame_(frame),
        settings_(settings),
        level_(std::min(settings.level, settings.limit)),
        seen_(static_cast<std::size_t>(frame.width()) * static_cast<std::size_t>(frame.height())) {
    const HotPixelMask* mask = settings.mask;
    if (mask == nullptr || !mask->fits(frame)) return;
    for (std::int32_t y = 0; y < frame.height(); ++y) {
      for (const std::int32_t x : mask->maskedInRow(y))
        seen_[index(x, y)] = 1;
    }
  }

  bool seeds(std::int32_t x, std::int32_t y) const {
    return seen_[index(x, y)] == 0 && levelAt(frame_, x, y) > settings_.limit;
  }

  // The cluster grown from a seed pixel; its pixels are marked seen.
  Cluster grow(std::int32_t x, std::int32_t y) {
    Cluster c;
    std::uint8_t brightest = 0;
    pixels_.clear();
    visit(x, y);
    for (std::size_t i = 0; i < pixels_.size(); ++i) {
      const Pixel p = pixels_[i];
      const std::uint8_t level = levelAt(frame_, p.x, p.y);
      c.sum += level;
      if (level > brightest) {
        brightest = level;
        c.x = p.x;
        c.y = p.y;
      }
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx)
          visit(p.x + dx, p.y + dy);
      }
    }
    c.size = static_cast<std::int64_t>(pixels_.size());
    measureShape(pixels_, c);
    return c;
  }

 private:
  std::size_t index(std::int32_t x, std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(frame_.width()) +
           static_cast<std::size_t>(x);
  }
  void visit(std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0 || x >= frame_.width() || y >= frame_.height()) return;
    std::uint8_t& seen = seen_[index(x, y)];
    if (seen != 0 || levelAt(frame_, x, y) <= level_) return;
    seen = 1;
    pixels_.push_back({x, y});
  }

  const FrameBitmap& frame_;
  const ClusterSettings& settings_;
  const std::uint8_t level_;
  std::vector<std::uint8_t> seen_;  // grown into a cluster, or masked
  std::vector<Pixel> pixels_;       // of the cluster being grown, as a queue
};

}  // namespace

std::vector<Cluster> findClusters(const FrameBitmap& frame, const ClusterSettings& settings,
                                  std::int32_t peakX, std::int32_t peakY) {
  std::vector<Cluster> clusters;
  if (frame.empty() || settings.most == 0) return clusters;
  ClusterFinder finder(frame, settings);
  const bool peakInside =
      peakX >= 0 && peakY >= 0 && peakX < frame.width() && peakY < frame.height();
  if (peakInside && finder.seeds(peakX, peakY)) clusters.push_back(finder.grow(peakX, peakY));
  for (std::int32_t y = 0; y < frame.height() && clusters.size() < settings.most; ++y) {
    for (std::int32_t x = 0; x < frame.width() && clusters.size() < settings.most; ++x) {
      if (finder.seeds(x, y)) clusters.push_back(finder.grow(x, y));
    }
  }
  return clusters;
}

std::string clustersJson(const std::vector<Cluster>& clusters) {
  std::string out = "[";
  for (const Cluster& c : clusters) {
    if (out.size() > 1) out += ',';
    out += "{\"x\":" + std::to_string(c.x) + ",\"y\":" + std::to_string(c.y) +
           ",\"size\":" + std::to_string(c.size) + ",\"sum\":" + std::to_string(c.sum) +
           ",\"length\":" + jsonFixedNumber(c.length, 2) +
           ",\"elongation\":" + jsonFixedNumber(c.elongation, 2) + "}";
  }
  return out + "]";
}

}  // namespace ravdel
