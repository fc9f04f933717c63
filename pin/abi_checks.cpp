// Compile-time checks of what a 32-bit host relies on and a 64-bit run
// cannot show: every IKV20X slot, and the entry points, with the platform's
// calling convention (__stdcall on x86; one convention on x64).

#include <cstddef>
#include <type_traits>

#include "pin/video_format.h"
#include "settings/ikv20x.h"

#include <dshow.h>
#include <olectl.h>

namespace kv20x {
namespace {

template <typename... Args>
using Slot = HRESULT (STDMETHODCALLTYPE IKV20X::*)(Args...);

#define KV20X_CHECK_SLOT(method, ...) \
    static_assert(std::is_same_v<decltype(&IKV20X::method), Slot<__VA_ARGS__>>, #method " is not STDMETHODCALLTYPE")

KV20X_CHECK_SLOT(GetVideoSize, int*);
KV20X_CHECK_SLOT(SetVideoSize, int);
KV20X_CHECK_SLOT(GetWhiteBalance, BOOL*, BYTE*, BYTE*, BYTE*);
KV20X_CHECK_SLOT(SetWhiteBalance, BOOL, BYTE, BYTE, BYTE);
KV20X_CHECK_SLOT(GetExposure, BOOL*, BYTE*, WORD*, WORD*);
KV20X_CHECK_SLOT(SetExposure, BOOL, BYTE, WORD, WORD);
KV20X_CHECK_SLOT(GetSpeed, BYTE*);
KV20X_CHECK_SLOT(SetSpeed, BYTE);
KV20X_CHECK_SLOT(GetGamma, BYTE*);
KV20X_CHECK_SLOT(SetGamma, BYTE);
KV20X_CHECK_SLOT(GetContrast, BYTE*);
KV20X_CHECK_SLOT(SetContrast, BYTE);
KV20X_CHECK_SLOT(GetColorEnhancement, BOOL*, BYTE*);
KV20X_CHECK_SLOT(SetColorEnhancement, BOOL, BYTE);
KV20X_CHECK_SLOT(GetMonoMode, BOOL*);
KV20X_CHECK_SLOT(SetMonoMode, BOOL);
KV20X_CHECK_SLOT(GetVerticalFlip, BOOL*);
KV20X_CHECK_SLOT(SetVerticalFlip, BOOL);
KV20X_CHECK_SLOT(SetPowerFrequency, BOOL);
KV20X_CHECK_SLOT(GetPowerFrequency, BOOL*);
KV20X_CHECK_SLOT(SaveSettings);
KV20X_CHECK_SLOT(SelectParameterGroup, BYTE);
KV20X_CHECK_SLOT(GetParameterGroup, BYTE*);
KV20X_CHECK_SLOT(GetHorizontalMirror, BOOL*);
KV20X_CHECK_SLOT(SetHorizontalMirror, BOOL);
KV20X_CHECK_SLOT(GetRowTime, LONG*);

#undef KV20X_CHECK_SLOT

}  // namespace
}  // namespace kv20x

// The entry points as a host looks them up.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
static_assert(std::is_same_v<decltype(&DllMain), BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID)>);
static_assert(std::is_same_v<decltype(&DllGetClassObject), HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*)>);
static_assert(std::is_same_v<decltype(&DllCanUnloadNow), HRESULT(STDAPICALLTYPE*)()>);
static_assert(std::is_same_v<decltype(&DllRegisterServer), HRESULT(STDAPICALLTYPE*)()>);
static_assert(std::is_same_v<decltype(&DllUnregisterServer), HRESULT(STDAPICALLTYPE*)()>);

// The format check reads VIDEOINFOHEADER at fixed offsets.
static_assert(offsetof(VIDEOINFOHEADER, rcSource) == kv20x::kVideoInfoSourceOffset);
static_assert(offsetof(VIDEOINFOHEADER, rcTarget) == kv20x::kVideoInfoTargetOffset);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == kv20x::kVideoInfoFrameTimeOffset);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == kv20x::kVideoInfoBitmapOffset);
static_assert(sizeof(BITMAPINFOHEADER) == kv20x::kBitmapHeaderBytes);
static_assert(sizeof(VIDEOINFOHEADER) == kv20x::kVideoInfoBytes);
