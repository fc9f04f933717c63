#pragma once
// What the module settles when it is loaded into a process: its own handle
// (for dialogs, strings and its file path) and the interface language of the
// property pages. Written once at process attach, only read afterwards.

#include <windows.h>

namespace kv20x {

HINSTANCE ModuleHandle();
void SetModuleHandle(HINSTANCE module);

// Simplified Chinese pages exactly for the language id 0x0804 (Chinese,
// PRC); every other id, other Chinese variants included, gets English.
bool IsSimplifiedChinese(LANGID language);

bool UsesChinesePages();
void SetChinesePages(bool chinese);

}  // namespace kv20x
