#include "tests/wine/screenshot.h"

#include <vector>

std::vector<DWORD> CaptureWindowPixels(HWND hwnd)
{
    std::vector<DWORD> pixels;
    RECT rc;
    if (!GetWindowRect(hwnd, &rc) || rc.right <= rc.left || rc.bottom <= rc.top)
        return pixels;
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (bitmap != NULL) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY)) {
            const DWORD* first = static_cast<const DWORD*>(bits);
            pixels.assign(first, first + static_cast<size_t>(width) * height);
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

static void HandleOwnMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool WaitUntilDrawnOnScreen(HWND hwnd, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    std::vector<DWORD> previous;
    for (;;) {
        HandleOwnMessages();
        RedrawWindow(hwnd, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
        std::vector<DWORD> now = CaptureWindowPixels(hwnd);
        bool coloured = false;
        for (size_t i = 1; i < now.size() && !coloured; ++i)
            coloured = (now[i] & 0xFFFFFF) != (now[0] & 0xFFFFFF);
        if (coloured && now == previous)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        previous.swap(now);
        // Wine hands a painted surface to X at most every few tens of ms.
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
    }
}

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
