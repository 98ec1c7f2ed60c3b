// PNG on libdeflate, which deflates and inflates picture data about twice
// as fast as zlib: a decoder for the pictures of everyday use (not
// interlaced, 8 bits per sample: grey, grey with alpha, RGB, RGBA,
// palette; other PNGs are left to libpng) and the encoder of every PNG we
// send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prepare/image_codec.h"

namespace velkan {

enum class PngFastResult { Decoded, Unsupported, Failed };

// Decodes a whole PNG file held in memory into RGBA (EXIF from an eXIf
// chunk); the file's bytes are used up (moved about in place, then let go),
// except when the result is Unsupported, when they are left whole. With minWidth and minHeight (0: full size) an opaque picture is
// averaged down in blocks while it is decoded, to the size resizeImage's
// own first step would give, so the full picture is never held in RGBA.
// Unsupported for the kinds of PNG it leaves to libpng; Failed, with the
// reason, for a file that is broken or too large.
PngFastResult decodePngFast(PixelBuffer& file, Image& image, std::string& error, int minWidth = 0,
                            int minHeight = 0);

// Encodes RGBA as an 8-bit RGB PNG when every pixel is opaque, RGBA
// otherwise, each row with the filter that suits it best (the smallest sum
// of the filtered bytes as signed values, as libpng chooses), compressed at
// `level` (1 to 12); `exif` ("Exif\0\0" and the TIFF structure, may be
// empty) goes into an eXIf chunk.
bool encodePngFast(const Image& image, const std::string& exif, int level, std::vector<uint8_t>& out);

}  // namespace velkan
