#pragma once
// The module's class ids. Client applications depend on them: never change.

#include <windows.h>

namespace kv20x {

// "Quorl T5R 3.1M Camera"
inline constexpr CLSID kClsidCaptureFilter = {0x99D56D64, 0x7A37, 0x4F84, {0xBF, 0x61, 0x98, 0x44, 0x5E, 0x17, 0x59, 0x85}};
// "QLT5R SizePage"
inline constexpr CLSID kClsidSizePage = {0xCFBE4593, 0x1111, 0x455B, {0xAB, 0xD7, 0xA2, 0xA1, 0x7F, 0xA0, 0x0C, 0xC8}};
// "QLT5R SetupPage"
inline constexpr CLSID kClsidSetupPage = {0x87869342, 0x3548, 0x4FDC, {0xBA, 0x44, 0xA0, 0xA4, 0x84, 0x1C, 0xDF, 0x01}};

inline constexpr wchar_t kFilterName[] = L"Quorl T5R 3.1M Camera";
inline constexpr wchar_t kSizePageName[] = L"QLT5R SizePage";
inline constexpr wchar_t kSetupPageName[] = L"QLT5R SetupPage";

}  // namespace kv20x
