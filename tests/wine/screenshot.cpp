#include "tests/wine/screenshot.h"

#include <vector>

bool SaveWindowScreenshot(HWND hwnd, const std::wstring& path)
{
    RECT rc;
    if (!GetWindowRect(hwnd, &rc))
        return false;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0)
        return false;

    HDC screen = GetDC(NULL);
    if (screen == NULL)
        return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof(bih);
    bih.biWidth = width;
    bih.biHeight = height;  // bottom-up, as a BMP file stores it
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    int lines = copied ? GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                   reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS) : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (lines != height)
        return false;

    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;  // "BM"
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + static_cast<DWORD>(pixels.size());

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, &bfh, sizeof(bfh), &written, NULL) &&
              WriteFile(file, &bih, sizeof(bih), &written, NULL) &&
              WriteFile(file, pixels.data(), static_cast<DWORD>(pixels.size()), &written, NULL);
    CloseHandle(file);
    return ok;
}
