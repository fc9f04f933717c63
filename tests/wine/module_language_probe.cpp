// Loads the built module as a host does and reports the titles of its two
// pages, which follow the user's language: run under LANG=zh_CN.UTF-8 and
// others by CTest. Usage: module_language_probe <module> chinese|english

#include <windows.h>
#include <ocidl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "settings/class_ids.h"

namespace {

// The title of the page `clsid` as the module's class object creates it.
bool PageTitle(HMODULE module, const CLSID& clsid, wchar_t* title, size_t chars)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return false;
    IPropertyPage* page = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page));
    factory->Release();
    if (FAILED(hr))
        return false;
    PROPPAGEINFO info{};
    const bool ok = SUCCEEDED(page->GetPageInfo(&info));
    if (ok) {
        std::wcsncpy(title, info.pszTitle, chars - 1);
        title[chars - 1] = L'\0';
        ::CoTaskMemFree(info.pszTitle);
    }
    page->Release();
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    ::CoInitialize(nullptr);
    HMODULE module = ::LoadLibraryA(argv[1]);
    if (!module) {
        std::printf("cannot load %s\n", argv[1]);
        return 1;
    }
    const bool chinese = std::strcmp(argv[2], "chinese") == 0;
    wchar_t size[64], setup[64];
    if (!PageTitle(module, kv20x::kClsidSizePage, size, 64) || !PageTitle(module, kv20x::kClsidSetupPage, setup, 64)) {
        std::printf("the pages could not be created\n");
        return 1;
    }
    const wchar_t* expectedSize = chinese ? L"\u89c6\u9891\u5c3a\u5bf8" : L"Video Size";
    const wchar_t* expectedSetup = chinese ? L" \u8bbe\u7f6e" : L" SETUP";
    std::printf("language %04x: size page \"%ls\", setup page \"%ls\"\n", ::GetUserDefaultLangID(), size, setup);
    const bool ok = std::wcscmp(size, expectedSize) == 0 && std::wcscmp(setup, expectedSetup) == 0;
    if (!ok)
        std::printf("expected the %s titles\n", argv[2]);
    ::FreeLibrary(module);
    ::CoUninitialize();
    return ok ? 0 : 1;
}
