#include "jpeg_encoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

namespace qvtool {
namespace {

// libjpeg reports errors by calling error_exit, which must not return: jump back out.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void OnMessage(j_common_ptr) {}  // warnings stay quiet: the picture is still written

// The compressor and its memory buffer, released on every way out.
struct Compressor {
    jpeg_compress_struct info{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    ~Compressor() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

}  // namespace

bool EncodeJpeg(const uint8_t* rgb, int width, int height, int quality, std::string* out) {
    out->clear();
    if (!rgb || width <= 0 || height <= 0) return false;
    Compressor c;
    ErrorManager errors;
    c.info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.output_message = OnMessage;
    if (setjmp(errors.jump)) {
        out->clear();
        return false;
    }
    jpeg_create_compress(&c.info);
    jpeg_mem_dest(&c.info, &c.buffer, &c.size);
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.input_components = 3;
    c.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, quality, TRUE);
    c.info.dct_method = JDCT_IFAST;
    jpeg_start_compress(&c.info, TRUE);
    const size_t stride = static_cast<size_t>(width) * 3;
    while (c.info.next_scanline < c.info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + c.info.next_scanline * stride);
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    out->assign(reinterpret_cast<const char*>(c.buffer), c.size);
    return true;
}

}  // namespace qvtool
