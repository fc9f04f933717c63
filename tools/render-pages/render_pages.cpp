// Renders the two property pages in the user's language to PNG files, so
// that the pages can be looked at without a Windows desktop. Run by
// tools/render-pages.sh under Xvfb, once per language (Wine takes the
// language, and the fonts that go with it, from LANG):
//   render-pages.exe <output folder>   writes setup-<language>.png, size-<language>.png

#include <windows.h>
#include <ocidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/png_writer.h"
#include "base/module_state.h"
#include "support/fake_camera.h"
#include "ui/setup_page.h"
#include "ui/size_page.h"

using namespace kv20x;

namespace {

bool Render(CUnknown* (*create)(IUnknown*, HRESULT*), const std::string& path)
{
    HRESULT hr = S_OK;
    IPropertyPage* page = nullptr;
    CUnknown* object = create(nullptr, &hr);
    object->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(&page));
    PROPPAGEINFO info{};
    page->GetPageInfo(&info);
    ::CoTaskMemFree(info.pszTitle);
    const int width = info.size.cx, height = info.size.cy;

    HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                                  nullptr, nullptr);
    test::FakeCamera camera;
    IUnknown* objects[1] = {&camera};
    page->SetObjects(1, objects);
    const RECT place = {0, 0, width, height};
    page->Activate(host, &place, FALSE);
    HWND dialog = ::GetWindow(host, GW_CHILD);

    // Let every control paint, then print the page with its children.
    MSG message;
    for (int round = 0; round < 20; ++round) {
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        ::Sleep(10);
    }
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO bitmap{};
    bitmap.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmap.bmiHeader.biWidth = width;
    bitmap.bmiHeader.biHeight = -height;  // top-down
    bitmap.bmiHeader.biPlanes = 1;
    bitmap.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP section = ::CreateDIBSection(memory, &bitmap, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, section);
    // What the display shows where the page stands.
    ::UpdateWindow(dialog);
    RECT shown;
    ::GetWindowRect(dialog, &shown);
    ::BitBlt(memory, 0, 0, width, height, screen, shown.left, shown.top, SRCCOPY);
    ::GdiFlush();

    const int stride = (width * 3 + 3) & ~3;
    std::vector<std::uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(bits) + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            std::uint8_t* out = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            out[0] = row[x * 3 + 2];
            out[1] = row[x * 3 + 1];
            out[2] = row[x * 3];
        }
    }
    const bool written = tools::PngWriter::Write(path.c_str(), rgb.data(), static_cast<std::uint32_t>(width),
                                                 static_cast<std::uint32_t>(height));
    ::SelectObject(memory, old);
    ::DeleteObject(section);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    page->Deactivate();
    page->SetObjects(0, nullptr);
    page->Release();
    ::DestroyWindow(host);
    std::printf("%s: %d x %d%s\n", path.c_str(), width, height, written ? "" : " (not written)");
    return written;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    SetModuleHandle(::GetModuleHandleW(nullptr));
    const bool chinese = IsSimplifiedChinese(::GetUserDefaultLangID());
    SetChinesePages(chinese);
    const std::string language = chinese ? "chinese" : "english";
    bool ok = Render(CSetupPage::CreateInstance, folder + "\\setup-" + language + ".png");
    ok &= Render(CSizePropertyPage::CreateInstance, folder + "\\size-" + language + ".png");
    return ok ? 0 : 1;
}
