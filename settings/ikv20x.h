/*
 * IKV20X: the camera control interface of the Quorl T5R 3.1M Camera capture
 * filter and of its output pin "Out". The one header a client application
 * needs; usable from C and C++.
 *
 *   IKV20X *camera;
 *   filter->QueryInterface(IID_IKV20X, (void **)&camera);   (C++)
 *   IBaseFilter_QueryInterface(filter, &IID_IKV20X, (void **)&camera);   (C)
 *
 * Every method returns an HRESULT. Setters store the value given and act on
 * the running camera at once; values are range-checked only when stored
 * settings are loaded. Getters fail on a null pointer (E_POINTER through the
 * filter, E_FAIL on the pin) and write nothing.
 */
#ifndef KV20X_IKV20X_H
#define KV20X_IKV20X_H

#include <windows.h>
#include <unknwn.h>

#ifdef __cplusplus
extern "C" {
#endif

/* {F4F89248-E1EC-4913-93E3-55287F3E7EEE} */
static const IID IID_IKV20X = {0xf4f89248, 0xe1ec, 0x4913, {0x93, 0xe3, 0x55, 0x28, 0x7f, 0x3e, 0x7e, 0xee}};

#undef INTERFACE
#define INTERFACE IKV20X
DECLARE_INTERFACE_(IKV20X, IUnknown)
{
#ifndef __cplusplus
    /* IUnknown */
    STDMETHOD(QueryInterface)(THIS_ REFIID iid, void **object) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
#endif
    /* Picture size: 0 = 2048 x 1536, 1 = 1024 x 768, 2 = 640 x 480. Changes only
       while the pin is unconnected (VFW_E_ALREADY_CONNECTED otherwise). */
    STDMETHOD(GetVideoSize)(THIS_ int *size) PURE;
    STDMETHOD(SetVideoSize)(THIS_ int size) PURE;
    /* White balance gains in 1/64 (64 = 1.0). A non-zero autoWhiteBalance asks for
       a one-shot balance on the next frame; it reads 0 again once done. */
    STDMETHOD(GetWhiteBalance)(THIS_ BOOL *autoWhiteBalance, BYTE *red, BYTE *green, BYTE *blue) PURE;
    STDMETHOD(SetWhiteBalance)(THIS_ BOOL autoWhiteBalance, BYTE red, BYTE green, BYTE blue) PURE;
    /* Auto exposure on/off, its brightness target, exposure in sensor rows, gain code. */
    STDMETHOD(GetExposure)(THIS_ BOOL *autoExposure, BYTE *target, WORD *exposureRows, WORD *gain) PURE;
    STDMETHOD(SetExposure)(THIS_ BOOL autoExposure, BYTE target, WORD exposureRows, WORD gain) PURE;
    /* Sensor clock: 0 = normal, 1 = high. */
    STDMETHOD(GetSpeed)(THIS_ BYTE *speed) PURE;
    STDMETHOD(SetSpeed)(THIS_ BYTE speed) PURE;
    /* Gamma x 100 (100 = 1.0). */
    STDMETHOD(GetGamma)(THIS_ BYTE *gamma) PURE;
    STDMETHOD(SetGamma)(THIS_ BYTE gamma) PURE;
    /* Contrast 0 to 100. */
    STDMETHOD(GetContrast)(THIS_ BYTE *contrast) PURE;
    STDMETHOD(SetContrast)(THIS_ BYTE contrast) PURE;
    /* Colour matrix with saturation on/off; saturation 128 leaves colours unchanged. */
    STDMETHOD(GetColorEnhancement)(THIS_ BOOL *enabled, BYTE *saturation) PURE;
    STDMETHOD(SetColorEnhancement)(THIS_ BOOL enabled, BYTE saturation) PURE;
    /* Grey output. */
    STDMETHOD(GetMonoMode)(THIS_ BOOL *mono) PURE;
    STDMETHOD(SetMonoMode)(THIS_ BOOL mono) PURE;
    /* Upright flag: 0 turns the picture upside down. */
    STDMETHOD(GetVerticalFlip)(THIS_ BOOL *upright) PURE;
    STDMETHOD(SetVerticalFlip)(THIS_ BOOL upright) PURE;
    /* Mains frequency for flicker-free exposure: TRUE = 50 Hz, FALSE = 60 Hz. */
    STDMETHOD(SetPowerFrequency)(THIS_ BOOL fiftyHertz) PURE;
    STDMETHOD(GetPowerFrequency)(THIS_ BOOL *fiftyHertz) PURE;
    /* Stores the current settings into the selected parameter group. */
    STDMETHOD(SaveSettings)(THIS) PURE;
    /* Parameter groups 0 to 3 (A to D): selecting another loads its stored values. */
    STDMETHOD(SelectParameterGroup)(THIS_ BYTE group) PURE;
    STDMETHOD(GetParameterGroup)(THIS_ BYTE *group) PURE;
    /* Horizontal mirror. */
    STDMETHOD(GetHorizontalMirror)(THIS_ BOOL *mirror) PURE;
    STDMETHOD(SetHorizontalMirror)(THIS_ BOOL mirror) PURE;
    /* Duration of one sensor row in microseconds. */
    STDMETHOD(GetRowTime)(THIS_ LONG *microseconds) PURE;
};
#undef INTERFACE

#ifdef COBJMACROS
#define IKV20X_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IKV20X_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IKV20X_Release(p) (p)->lpVtbl->Release(p)
#define IKV20X_GetVideoSize(p, a) (p)->lpVtbl->GetVideoSize(p, a)
#define IKV20X_SetVideoSize(p, a) (p)->lpVtbl->SetVideoSize(p, a)
#define IKV20X_GetWhiteBalance(p, a, b, c, d) (p)->lpVtbl->GetWhiteBalance(p, a, b, c, d)
#define IKV20X_SetWhiteBalance(p, a, b, c, d) (p)->lpVtbl->SetWhiteBalance(p, a, b, c, d)
#define IKV20X_GetExposure(p, a, b, c, d) (p)->lpVtbl->GetExposure(p, a, b, c, d)
#define IKV20X_SetExposure(p, a, b, c, d) (p)->lpVtbl->SetExposure(p, a, b, c, d)
#define IKV20X_GetSpeed(p, a) (p)->lpVtbl->GetSpeed(p, a)
#define IKV20X_SetSpeed(p, a) (p)->lpVtbl->SetSpeed(p, a)
#define IKV20X_GetGamma(p, a) (p)->lpVtbl->GetGamma(p, a)
#define IKV20X_SetGamma(p, a) (p)->lpVtbl->SetGamma(p, a)
#define IKV20X_GetContrast(p, a) (p)->lpVtbl->GetContrast(p, a)
#define IKV20X_SetContrast(p, a) (p)->lpVtbl->SetContrast(p, a)
#define IKV20X_GetColorEnhancement(p, a, b) (p)->lpVtbl->GetColorEnhancement(p, a, b)
#define IKV20X_SetColorEnhancement(p, a, b) (p)->lpVtbl->SetColorEnhancement(p, a, b)
#define IKV20X_GetMonoMode(p, a) (p)->lpVtbl->GetMonoMode(p, a)
#define IKV20X_SetMonoMode(p, a) (p)->lpVtbl->SetMonoMode(p, a)
#define IKV20X_GetVerticalFlip(p, a) (p)->lpVtbl->GetVerticalFlip(p, a)
#define IKV20X_SetVerticalFlip(p, a) (p)->lpVtbl->SetVerticalFlip(p, a)
#define IKV20X_SetPowerFrequency(p, a) (p)->lpVtbl->SetPowerFrequency(p, a)
#define IKV20X_GetPowerFrequency(p, a) (p)->lpVtbl->GetPowerFrequency(p, a)
#define IKV20X_SaveSettings(p) (p)->lpVtbl->SaveSettings(p)
#define IKV20X_SelectParameterGroup(p, a) (p)->lpVtbl->SelectParameterGroup(p, a)
#define IKV20X_GetParameterGroup(p, a) (p)->lpVtbl->GetParameterGroup(p, a)
#define IKV20X_GetHorizontalMirror(p, a) (p)->lpVtbl->GetHorizontalMirror(p, a)
#define IKV20X_SetHorizontalMirror(p, a) (p)->lpVtbl->SetHorizontalMirror(p, a)
#define IKV20X_GetRowTime(p, a) (p)->lpVtbl->GetRowTime(p, a)
#endif

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && defined(__CRT_UUID_DECL)
__CRT_UUID_DECL(IKV20X, 0xf4f89248, 0xe1ec, 0x4913, 0x93, 0xe3, 0x55, 0x28, 0x7f, 0x3e, 0x7e, 0xee)
#endif

#endif /* KV20X_IKV20X_H */
