// Captures what the display shows, through GDI.
#pragma once

#include <cstdint>
#include <vector>

namespace tools {

// The whole screen as rows of RGB pixels, top row first (the layout EncodePng takes).
bool CaptureScreen(uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb);

}  // namespace tools
