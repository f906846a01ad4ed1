#include "windows/JpegDecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kPictures[] = {
    VELMORA_SOURCE_DIR "/resources/japanese/HintPicture.jpg",
    VELMORA_SOURCE_DIR "/resources/english/HintPicture.jpg",
};

Bytes readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A small picture of our own, so the colours that come back can be checked against known input.
Bytes encode(int width, int height, int components, const Bytes& pixels)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

struct Pixel {
    int r, g, b;
};

Pixel at(const velmora::DecodedImage& image, int x, int y)
{
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)) * 3;
    return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
}

struct Segment {
    std::uint8_t marker;
    std::size_t offset;  // of the segment's payload, after its length field
    std::size_t length;  // of the payload
};

// The marker segments from SOI up to the start of the entropy-coded scan.
std::vector<Segment> headerSegments(const Bytes& file)
{
    std::vector<Segment> segments;
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return segments;
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const std::uint8_t marker = file[pos + 1];
        const std::size_t length = (std::size_t{file[pos + 2]} << 8 | file[pos + 3]) - 2;
        segments.push_back({marker, pos + 4, length});
        if (marker == 0xDA)
            break;
        pos += 4 + length;
    }
    return segments;
}

std::optional<Segment> find(const std::vector<Segment>& segments, std::uint8_t marker)
{
    for (const Segment& s : segments)
        if (s.marker == marker)
            return s;
    return std::nullopt;
}

}  // namespace

TEST(HintPictureFile, IsBaselineJfif101WithThreeComponentsAt936x184)
{
    for (const char* path : kPictures) {
        SCOPED_TRACE(path);
        const Bytes file = readFile(path);
        const std::vector<Segment> segments = headerSegments(file);
        ASSERT_FALSE(segments.empty());

        const std::optional<Segment> app0 = find(segments, 0xE0);
        ASSERT_TRUE(app0.has_value());
        ASSERT_GE(app0->length, 7u);
        EXPECT_EQ(std::string(file.begin() + static_cast<long>(app0->offset), file.begin() + static_cast<long>(app0->offset) + 5),
                  std::string("JFIF\0", 5));
        EXPECT_EQ(file[app0->offset + 5], 1);  // major version
        EXPECT_EQ(file[app0->offset + 6], 1);  // minor version

        // Baseline means a SOF0 frame and no other kind of frame.
        const std::optional<Segment> sof0 = find(segments, 0xC0);
        ASSERT_TRUE(sof0.has_value());
        for (std::uint8_t other : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA})
            EXPECT_FALSE(find(segments, other).has_value()) << "frame marker " << int{other};
        const std::size_t p = sof0->offset;
        EXPECT_EQ(file[p], 8);                                  // bits per sample
        EXPECT_EQ(file[p + 1] << 8 | file[p + 2], 184);         // height
        EXPECT_EQ(file[p + 3] << 8 | file[p + 4], 936);         // width
        EXPECT_EQ(file[p + 5], 3);                              // components
        EXPECT_TRUE(find(segments, 0xDA).has_value());
    }
}

TEST(JpegDecoder, HintPicturesDecodeToTheirFullSizeOnWhite)
{
    for (const char* path : kPictures) {
        SCOPED_TRACE(path);
        const Bytes file = readFile(path);
        const velmora::DecodedImage image = velmora::decodeJpeg(file.data(), file.size());
        ASSERT_FALSE(image.empty());
        EXPECT_EQ(image.width, 936);
        EXPECT_EQ(image.height, 184);
        ASSERT_EQ(image.rgb.size(), 936u * 184u * 3u);

        for (auto [x, y] : {std::pair{0, 0}, {935, 0}, {0, 183}, {935, 183}}) {
            const Pixel p = at(image, x, y);
            EXPECT_GE(p.r, 245);
            EXPECT_GE(p.g, 245);
            EXPECT_GE(p.b, 245);
        }
        // The title starts in green at the top left, and the staff lines cross the middle in black.
        int green = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 200; ++x) {
                const Pixel p = at(image, x, y);
                green += (p.g > p.r + 60 && p.g > p.b + 60) ? 1 : 0;
            }
        EXPECT_GT(green, 100);
        int darkRows = 0;
        for (int y = 60; y < 130; ++y) {
            const Pixel p = at(image, 468, y);
            darkRows += (p.r + p.g + p.b < 500) ? 1 : 0;
        }
        EXPECT_GE(darkRows, 5);
    }
}

TEST(JpegDecoder, KeepsTheColoursAndLayoutOfAPicture)
{
    // Left half red, right half blue, 32 x 16.
    Bytes pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool left = x < 16;
            pixels.insert(pixels.end(), {std::uint8_t(left ? 220 : 20), std::uint8_t(20), std::uint8_t(left ? 20 : 220)});
        }
    const Bytes jpeg = encode(32, 16, 3, pixels);
    const velmora::DecodedImage image = velmora::decodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 16);
    const Pixel red = at(image, 4, 8);
    const Pixel blue = at(image, 27, 8);
    EXPECT_NEAR(red.r, 220, 20);
    EXPECT_NEAR(red.b, 20, 20);
    EXPECT_NEAR(blue.r, 20, 20);
    EXPECT_NEAR(blue.b, 220, 20);
}

TEST(JpegDecoder, ConvertsAGreyPictureToRgb)
{
    Bytes pixels;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 24; ++x)
            pixels.push_back(static_cast<std::uint8_t>(x < 12 ? 40 : 200));
    const Bytes jpeg = encode(24, 8, 1, pixels);
    const velmora::DecodedImage image = velmora::decodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_EQ(image.width, 24);
    ASSERT_EQ(image.height, 8);
    ASSERT_EQ(image.rgb.size(), 24u * 8u * 3u);
    const Pixel dark = at(image, 3, 4);
    const Pixel light = at(image, 20, 4);
    EXPECT_EQ(dark.r, dark.g);
    EXPECT_EQ(dark.g, dark.b);
    EXPECT_NEAR(dark.r, 40, 10);
    EXPECT_EQ(light.r, light.b);
    EXPECT_NEAR(light.r, 200, 10);
}

TEST(JpegDecoder, DamagedOrMissingDataGivesAnEmptyImage)
{
    const Bytes file = readFile(kPictures[0]);
    ASSERT_GT(file.size(), 2000u);

    EXPECT_TRUE(velmora::decodeJpeg(nullptr, 0).empty());
    EXPECT_TRUE(velmora::decodeJpeg(nullptr, 1234).empty());
    EXPECT_TRUE(velmora::decodeJpeg(file.data(), 0).empty());

    // Cut in the middle of the picture data, and cut inside the header.
    EXPECT_TRUE(velmora::decodeJpeg(file.data(), file.size() / 2).empty());
    EXPECT_TRUE(velmora::decodeJpeg(file.data(), 300).empty());
    EXPECT_TRUE(velmora::decodeJpeg(file.data(), 2).empty());

    Bytes garbage(4096);
    std::uint32_t state = 12345;
    for (std::uint8_t& b : garbage) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    EXPECT_TRUE(velmora::decodeJpeg(garbage.data(), garbage.size()).empty());
    // The same noise behind a start-of-image marker.
    garbage[0] = 0xFF;
    garbage[1] = 0xD8;
    EXPECT_TRUE(velmora::decodeJpeg(garbage.data(), garbage.size()).empty());
    const std::string text = "this is not a picture";
    EXPECT_TRUE(velmora::decodeJpeg(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).empty());
}

TEST(JpegDecoder, RefusesAHeaderThatClaimsAnEnormousOrEmptyPicture)
{
    const Bytes file = readFile(kPictures[0]);
    const std::optional<Segment> sof0 = find(headerSegments(file), 0xC0);
    ASSERT_TRUE(sof0.has_value());

    // 40 000 x 40 000: within what libjpeg accepts, far beyond what the program needs.
    Bytes huge = file;
    for (std::size_t i : {1, 3}) {
        huge[sof0->offset + i] = 0x9C;
        huge[sof0->offset + i + 1] = 0x40;
    }
    EXPECT_TRUE(velmora::decodeJpeg(huge.data(), huge.size()).empty());

    Bytes flat = file;
    flat[sof0->offset + 1] = 0;
    flat[sof0->offset + 2] = 0;  // height 0
    EXPECT_TRUE(velmora::decodeJpeg(flat.data(), flat.size()).empty());

    // The untouched file still decodes, so the failures above are the header's doing.
    EXPECT_FALSE(velmora::decodeJpeg(file.data(), file.size()).empty());
}
