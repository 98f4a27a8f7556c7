// Splitting chunky three-sample pixels (R G B R G B ...) into three planes
// and merging them back: the hot loops of reading and writing interleaved
// files into band-sequential images.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo {

void splitTriples(const uint8_t *pixels, size_t count, uint8_t *first, uint8_t *second, uint8_t *third);
void mergeTriples(const uint8_t *first, const uint8_t *second, const uint8_t *third, size_t count, uint8_t *pixels);

}  // namespace orvo
