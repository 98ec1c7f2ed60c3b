// Pictures made by the tests themselves, in every format the transcoder
// reads, with EXIF data where the format carries it.
#pragma once

#include <string>

#include "prepare/image_codec.h"

namespace testsupport {

// A smooth colour pattern of the given size (no alpha).
velkan::Image patternImage(int width, int height);
// A minimal EXIF block ("Exif\0\0" + TIFF) holding an Orientation and an
// ImageDescription with `description`.
std::string exifBlock(const std::string& description);

void writeJpeg(const std::string& path, int width, int height, const std::string& exif = "");
void writePng(const std::string& path, int width, int height, const std::string& exif = "", bool alpha = false);
void writeGif(const std::string& path, int width, int height);
void writeBmp(const std::string& path, int width, int height);
void writeTiff(const std::string& path, int width, int height);

// The EXIF description the picture at `path` carries; empty when none.
std::string exifDescriptionOf(const std::string& path);

}  // namespace testsupport
