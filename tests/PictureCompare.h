// How alike two pictures are: the peak signal-to-noise ratio of their bytes, in decibels.
// Renderers differ a little in anti-aliasing, fonts and the placing of edges; a blank,
// shifted or wrongly coloured picture scores far lower than those differences do.
#pragma once

#include <cmath>
#include <string>

namespace driftpost::testing {

inline double Psnr(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

}  // namespace driftpost::testing
