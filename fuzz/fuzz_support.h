// Shared pieces of the fuzz targets: most of our readers take a file, so
// the input is written to a scratch file first; a logger that discards;
// and a hard stop for a broken invariant that the fuzzer reports as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZR {
class CLogger;
}

namespace fuzzsupport {

// A folder of this process, made on first use (in /dev/shm when it exists).
const std::string& scratchFolder();
// Writes the bytes to a file in scratchFolder() and returns its path.
std::string writeInput(const std::string& name, std::string_view bytes);
// A logger whose lines go nowhere (the readers under test log a lot).
ZR::CLogger& quietLogger();
// Stops the process with the message when `condition` is false.
void require(bool condition, const char* what);

inline std::string_view asText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Splits at the first occurrence of `separator`: the part before, and the
// part after (empty when there is none).
std::pair<std::string_view, std::string_view> splitAt(std::string_view text, char separator);

}  // namespace fuzzsupport
