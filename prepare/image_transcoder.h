// Pictures scaled into configured bounds and encoded again as JPEG or PNG,
// in memory, on our own codec layer (image_codec.h): the scaling rule and
// its rounding, the output formats and the messages are fixed here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prepare/file_types.h"
#include "pipeline/upload_item.h"
#include "platform/env.h"

namespace ZR {
class CLogger;
}

namespace velkan {

struct TranscodeParameters {
  int32_t maxHeight = 0;
  int32_t maxWidth = 0;
  int32_t quality = 80;
};

// Registers the encoders ("jpeg" and "png") and logs each one found.
// Returns 0, or -1 when none could be registered. Safe to call again.
int startImageCodecs(ZR::CLogger* log);
void stopImageCodecs();
int buildEncoderTable(ZR::CLogger* log);

// Pixel height and width from the file; 0 and 0 when it cannot be read.
// Each function here reads the picture through the Env it is given; the
// forms without one use the process's.
void imageSize(platform::Env& env, const std::string& path, int32_t& height, int32_t& width);
void imageSize(const std::string& path, int32_t& height, int32_t& width);

// The size a picture of width x height gets within maxWidth x maxHeight,
// by the rounding rule of the transcoder (ratio first, then the limit).
void scaledSize(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight, uint32_t& newWidth,
                uint32_t& newHeight);

// Encodes the picture for upload; returns its MIME type, or
// "application/octet-stream" when it could not be transcoded (logged).
// `known` (may be null) is the picture's size when the caller read it
// already; `result` (may be null) receives the size of the encoded picture.
std::string transformImage(platform::Env& env, const std::string& path, std::vector<uint8_t>& buffer,
                           const TranscodeParameters& parameters, ZR::CLogger* log, const PictureSize* known = nullptr,
                           PictureSize* result = nullptr);
std::string transformImage(const std::string& path, std::vector<uint8_t>& buffer, const TranscodeParameters& parameters,
                           ZR::CLogger* log, const PictureSize* known = nullptr, PictureSize* result = nullptr);

// Decodes, scales into the bounds when needed and encodes as `type` (BMP
// and TIFF, and everything when forcePng, become PNG). Properties (EXIF)
// of GIF, JPEG and PNG sources go along when copyProperties. 0 or -1.
int transcodeImage(platform::Env& env, const std::string& path, MimeType& type, const TranscodeParameters& parameters,
                   std::vector<uint8_t>& buffer, bool forcePng, bool copyProperties, ZR::CLogger* log,
                   const PictureSize* known = nullptr, PictureSize* result = nullptr);
int transcodeImage(const std::string& path, MimeType& type, const TranscodeParameters& parameters,
                   std::vector<uint8_t>& buffer, bool forcePng, bool copyProperties, ZR::CLogger* log,
                   const PictureSize* known = nullptr, PictureSize* result = nullptr);

}  // namespace velkan
