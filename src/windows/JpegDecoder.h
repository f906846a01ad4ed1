#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

// A decoded picture: rows top to bottom, three bytes (red, green, blue) a pixel, no padding.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    bool empty() const { return width <= 0 || height <= 0 || rgb.empty(); }
};

// Decodes a JPEG held in memory. Grey pictures come out as RGB. A missing, empty, corrupt or
// truncated buffer yields an empty image; libjpeg neither ends the program nor prints anything.
DecodedImage decodeJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace velmora
