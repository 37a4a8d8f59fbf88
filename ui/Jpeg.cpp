#include "ui/Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jpeglib.h>

#include <QFile>

#include "numerics/LxTypes.h"

namespace morvex {

namespace {

// Pictures larger than this are refused before any pixel memory is taken;
// the program's own pictures are far below it.
constexpr unsigned long long kMaxPixels = 64ull * 1024 * 1024;

struct ErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg hands us a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// msg_level -1 is a warning about corrupt data (libjpeg then goes on and
// fills the missing part with grey); anything else is trace output.
void EmitMessage(j_common_ptr cinfo, int msg_level) {
  if (msg_level < 0) ErrorExit(cinfo);
}

// Everything the decoder touches between setjmp and a possible longjmp is
// plain C data in this struct, so no C++ destructor can be skipped by the
// jump.  `pixels` is malloc'd and freed by the caller.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  unsigned char* pixels;
  int width;
  int height;
  int channels;
};

bool DecodeRaw(const unsigned char* data, unsigned long size, DecodeState* st) {
  st->cinfo.err = jpeg_std_error(&st->err.pub);
  st->err.pub.error_exit = ErrorExit;
  st->err.pub.emit_message = EmitMessage;
  st->err.message[0] = '\0';
  if (setjmp(st->err.jump)) {
    jpeg_destroy_decompress(&st->cinfo);
    return false;
  }
  jpeg_create_decompress(&st->cinfo);
  jpeg_mem_src(&st->cinfo, data, size);
  jpeg_read_header(&st->cinfo, TRUE);
  const unsigned long long pixel_count = static_cast<unsigned long long>(st->cinfo.image_width) *
                                         static_cast<unsigned long long>(st->cinfo.image_height);
  if (pixel_count == 0 || pixel_count > kMaxPixels) {
    std::snprintf(st->err.message, sizeof st->err.message, "picture of %u x %u pixels is too large",
                  st->cinfo.image_width, st->cinfo.image_height);
    jpeg_destroy_decompress(&st->cinfo);
    return false;
  }
  if (st->cinfo.jpeg_color_space == JCS_GRAYSCALE) {
    st->cinfo.out_color_space = JCS_GRAYSCALE;
  } else {
    st->cinfo.out_color_space = JCS_RGB;
  }
  jpeg_start_decompress(&st->cinfo);
  st->width = static_cast<int>(st->cinfo.output_width);
  st->height = static_cast<int>(st->cinfo.output_height);
  st->channels = st->cinfo.output_components;
  const size_t stride = static_cast<size_t>(st->width) * static_cast<size_t>(st->channels);
  st->pixels = static_cast<unsigned char*>(std::malloc(stride * static_cast<size_t>(st->height)));
  if (st->pixels == nullptr) {
    std::snprintf(st->err.message, sizeof st->err.message, "out of memory");
    jpeg_destroy_decompress(&st->cinfo);
    return false;
  }
  while (st->cinfo.output_scanline < st->cinfo.output_height) {
    JSAMPROW row = st->pixels + stride * st->cinfo.output_scanline;
    jpeg_read_scanlines(&st->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&st->cinfo);
  jpeg_destroy_decompress(&st->cinfo);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) throw Exception("JPEG picture cannot be decoded: no data");
  DecodeState* st = static_cast<DecodeState*>(std::calloc(1, sizeof(DecodeState)));
  if (st == nullptr) throw Exception("JPEG picture cannot be decoded: out of memory");
  const bool ok = DecodeRaw(reinterpret_cast<const unsigned char*>(data.constData()),
                            static_cast<unsigned long>(data.size()), st);
  if (!ok) {
    const std::string message = st->err.message;
    std::free(st->pixels);
    std::free(st);
    throw Exception("JPEG picture cannot be decoded: " + message);
  }
  const QImage::Format format = st->channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
  QImage image(st->width, st->height, format);
  const size_t stride = static_cast<size_t>(st->width) * static_cast<size_t>(st->channels);
  if (!image.isNull()) {
    for (int y = 0; y < st->height; ++y) {
      std::memcpy(image.scanLine(y), st->pixels + stride * static_cast<size_t>(y), stride);
    }
  }
  std::free(st->pixels);
  std::free(st);
  if (image.isNull()) throw Exception("JPEG picture cannot be decoded: out of memory");
  return image;
}

QImage LoadJpeg(const QString& resource_path) {
  QFile file(resource_path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EFOpenError(resource_path.toStdString());
  }
  return DecodeJpeg(file.readAll());
}

}  // namespace morvex
