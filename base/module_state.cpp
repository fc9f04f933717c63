#include "base/module_state.h"

namespace kv20x {

namespace {
HINSTANCE g_module = nullptr;
bool g_chinese = false;
}  // namespace

HINSTANCE ModuleHandle()
{
    return g_module;
}

void SetModuleHandle(HINSTANCE module)
{
    g_module = module;
}

bool IsSimplifiedChinese(LANGID language)
{
    return PRIMARYLANGID(language) == LANG_CHINESE && SUBLANGID(language) == SUBLANG_CHINESE_SIMPLIFIED;
}

bool UsesChinesePages()
{
    return g_chinese;
}

void SetChinesePages(bool chinese)
{
    g_chinese = chinese;
}

}  // namespace kv20x
