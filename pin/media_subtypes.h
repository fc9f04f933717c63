#pragma once
// The media subtypes of the pin's picture formats. The YUV subtypes are the
// platform's four-character-code GUIDs, {code-0000-0010-8000-00AA00389B71};
// RGB24 and RGB32 have subtypes of their own.

#include <dshow.h>

#include "imaging/picture_format.h"

namespace kv20x {

constexpr GUID FourCharacterCodeSubtype(std::uint32_t code)
{
    return {code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline GUID SubtypeOf(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Rgb32: return MEDIASUBTYPE_RGB32;
    case PictureFormat::Yuy2: return FourCharacterCodeSubtype(FourCharacterCode('Y', 'U', 'Y', '2'));
    case PictureFormat::Nv12: return FourCharacterCodeSubtype(FourCharacterCode('N', 'V', '1', '2'));
    case PictureFormat::I420: return FourCharacterCodeSubtype(FourCharacterCode('I', '4', '2', '0'));
    case PictureFormat::Rgb24:
    default: return MEDIASUBTYPE_RGB24;
    }
}

// The format a subtype names; IYUV is I420 under another name. False for
// any other subtype.
inline bool FormatOfSubtype(const GUID& subtype, PictureFormat* format)
{
    for (const PictureFormat candidate : {PictureFormat::Rgb24, PictureFormat::Rgb32, PictureFormat::Yuy2,
                                          PictureFormat::Nv12, PictureFormat::I420})
        if (subtype == SubtypeOf(candidate)) {
            *format = candidate;
            return true;
        }
    if (subtype == FourCharacterCodeSubtype(FourCharacterCode('I', 'Y', 'U', 'V'))) {
        *format = PictureFormat::I420;
        return true;
    }
    return false;
}

}  // namespace kv20x
