#include "tests/tools/screen.h"

#include <windows.h>

namespace tools {

bool CaptureScreen(uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb) {
  const int w = GetSystemMetrics(SM_CXSCREEN);
  const int h = GetSystemMetrics(SM_CYSCREEN);
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  bool ok = false;
  if (memory && bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY) != 0;
    SelectObject(memory, previous);
    // 32-bit top-down rows (negative height): no row padding, blue-green-red-unused per pixel.
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgrx(static_cast<size_t>(w) * h * 4);
    ok = ok && GetDIBits(memory, bitmap, 0, h, bgrx.data(), &info, DIB_RGB_COLORS) == h;
    if (ok) {
      rgb->resize(static_cast<size_t>(w) * h * 3);
      for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
        (*rgb)[i * 3 + 0] = bgrx[i * 4 + 2];
        (*rgb)[i * 3 + 1] = bgrx[i * 4 + 1];
        (*rgb)[i * 3 + 2] = bgrx[i * 4 + 0];
      }
      *width = static_cast<uint32_t>(w);
      *height = static_cast<uint32_t>(h);
    }
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace tools
