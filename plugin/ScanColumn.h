// The maths of a scan column, the filter targets one scan step hands to a channel: the
// seeded column that stands in for a filter map without a valid picture, and the conditioning
// that makes a map's column usable as lattice targets. Pure functions on plain arrays, so each
// rule is testable alone; the scan step itself lives in plugin/SkorvalineScan.cpp.
#pragma once

namespace skv {

/// The column of a filter map without a valid picture: the C runtime generator seeded with
/// seed (state = state * 214013 + 2531011, output bits 16..30), three outputs per value, and
/// value = 0.9 * (r1 % 10000 * 0.0002 - 1) * (r2 ...) * (r3 ...).
void fillSeededColumn(float* column, int count, unsigned seed);

/// Conditioning of a map column for the lattice: the first `order` values lose half the mean
/// of values 1..order-1 and are scaled to a largest magnitude of 1; then every one of the
/// `count` values that is 1 or more in magnitude, or not above the marker, becomes the marker
/// (1e-15 at first, changing sign at each use).
void conditionColumn(float* column, int order, int count);

}  // namespace skv
