#pragma once
// The class id of the camera's media source (the Media Foundation face of the
// module). The virtual camera registration names it, so applications and the
// frame server depend on it: never change it.

#include <windows.h>

namespace kv20x {

// {74E98CA6-69AF-4DC1-8D2C-2A089725FB26}
inline constexpr CLSID kClsidMediaSource = {0x74E98CA6, 0x69AF, 0x4DC1, {0x8D, 0x2C, 0x2A, 0x08, 0x97, 0x25, 0xFB, 0x26}};

}  // namespace kv20x
