// A PNG writer that needs no compression library: 8-bit RGB, filter 0 on every row, the image data
// in stored (uncompressed) deflate blocks inside one zlib stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// The checksums PNG and zlib use. `crc` continues a running value (start with 0).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size);

// `rgb` holds `height` rows of `width` pixels, 3 bytes each (red, green, blue), top row first.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tools
