#include "windows/JpegDecoder.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <memory>

#include <jpeglib.h>

namespace velmora {

namespace {

// Far beyond any picture of the program; stops a forged header from asking for gigabytes.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 24;

struct ErrorManager {
    jpeg_error_mgr standard;  // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf failure;
};

[[noreturn]] void abandonDecoding(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->failure, 1);
}

// Warnings (level -1) mean damaged data, such as a buffer that ends early: libjpeg would fill the
// rest with grey, so they fail the decoding like errors. Trace messages are dropped.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        abandonDecoding(cinfo);
}

void dropOutput(j_common_ptr) {}

struct DecompressDeleter {
    void operator()(jpeg_decompress_struct* cinfo) const
    {
        // Safe on a zeroed struct too: libjpeg only frees what jpeg_create_decompress allocated.
        jpeg_destroy_decompress(cinfo);
        delete cinfo;
    }
};

// Holds no object of its own that a jump back to setjmp could skip: everything it changes lives
// in the caller's memory, reached through pointers that never change.
bool decodeInto(jpeg_decompress_struct* cinfo, ErrorManager* errors, const std::uint8_t* data, std::size_t size,
                DecodedImage* image)
{
    if (setjmp(errors->failure) != 0)
        return false;

    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    cinfo->out_color_space = JCS_RGB;
    if (std::uint64_t{cinfo->image_width} * cinfo->image_height > kMaxPixels)
        return false;
    if (!jpeg_start_decompress(cinfo))
        return false;
    if (cinfo->output_components != 3)
        return false;

    const std::size_t rowBytes = std::size_t{cinfo->output_width} * 3;
    image->rgb.resize(rowBytes * cinfo->output_height);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = image->rgb.data() + rowBytes * cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return false;
    }
    jpeg_finish_decompress(cinfo);
    image->width = static_cast<int>(cinfo->output_width);
    image->height = static_cast<int>(cinfo->output_height);
    return true;
}

}  // namespace

DecodedImage decodeJpeg(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr || size == 0)
        return {};

    ErrorManager errors{};
    std::unique_ptr<jpeg_decompress_struct, DecompressDeleter> cinfo(new jpeg_decompress_struct{});
    cinfo->err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = abandonDecoding;
    errors.standard.emit_message = onMessage;
    errors.standard.output_message = dropOutput;

    DecodedImage image;
    if (!decodeInto(cinfo.get(), &errors, data, size, &image))
        return {};
    return image;
}

}  // namespace velmora
