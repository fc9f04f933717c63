#pragma once
// The platform's media graph declarations: interfaces, GUIDs, event codes and
// VFW_ result codes, as the mingw-w64 headers provide them.

#include <windows.h>
#include <dshow.h>
