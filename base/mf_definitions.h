#pragma once
// Media Foundation and kernel-streaming declarations that the mingw-w64
// headers (Debian 12) lack, defined once from their documented values.
//
// - ks.h declares IKsControl only for kernel-mode builds (returning NTSTATUS);
//   the user-mode interface, which returns HRESULT, is declared here.
// - ksmedia.h names PINNAME_VIDEO_CAPTURE and the video capture property sets
//   through DEFINE_GUIDSTRUCT, which compiles but leaves an undefined symbol at
//   link time; they are plain constants here, under names of our own because
//   ksmedia.h makes the platform's names macros.
// - mfidl.h and mfapi.h lack the frame server's stream attributes and
//   MFFrameSourceTypes; no header declares the virtual camera API, and no
//   import library the product may use exports MFCreateVirtualCamera (it
//   lives in mfsensorgroup.dll from Windows 11 on, loaded by name).
//
// Everything but the IKsControl interface lives in namespace kv20x, so that a
// newer toolchain declaring the same names globally does not clash with it.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <ks.h>

// ---- IKsControl (ksproxy.h's user-mode form) ---------------------------------
// The frame server and camera applications reach a media source's camera
// controls through it. Its methods return HRESULT in user mode.
#ifndef _IKsControl_
#define _IKsControl_
struct IKsControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID propertyData,
                                                 ULONG dataLength, ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD method, ULONG methodLength, LPVOID methodData,
                                               ULONG dataLength, ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT event, ULONG eventLength, LPVOID eventData, ULONG dataLength,
                                              ULONG* bytesReturned) = 0;
};
#endif
// {28F54685-06FD-11D2-B27A-00A0C9223196}
__CRT_UUID_DECL(IKsControl, 0x28F54685, 0x06FD, 0x11D2, 0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96)

namespace kv20x {

// ---- Kernel-streaming GUIDs (ksmedia.h) ---------------------------------------
// PINNAME_VIDEO_CAPTURE {FB6C4281-0353-11D1-905F-0000C0CC16BA}: the capture
// pin category, and the value of a capture stream's MF_DEVICESTREAM_STREAM_CATEGORY.
inline constexpr GUID kPinNameVideoCapture = {0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
// PROPSETID_VIDCAP_VIDEOPROCAMP {C6E13360-30AC-11D0-A18C-00A0C9118956}:
// brightness, contrast, ..., and the mains frequency
// (KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY).
inline constexpr GUID kPropSetVideoProcAmp = {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
// PROPSETID_VIDCAP_CAMERACONTROL {C6E13370-30AC-11D0-A18C-00A0C9118956}:
// exposure, focus, zoom, ...
inline constexpr GUID kPropSetCameraControl = {0xC6E13370, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

// ---- Stream attributes the frame server reads (mfidl.h, mfapi.h) ---------------
// MF_DEVICESTREAM_STREAM_CATEGORY (GUID): the stream's pin category.
inline constexpr GUID MF_DEVICESTREAM_STREAM_CATEGORY = {0x2939E7B8, 0xA62E, 0x4579, {0xB6, 0x74, 0xD4, 0x07, 0x3D, 0xFA, 0xBB, 0xBA}};
// MF_DEVICESTREAM_STREAM_ID (UINT32): the stream's identifier on the device.
inline constexpr GUID MF_DEVICESTREAM_STREAM_ID = {0x11BD5120, 0xD124, 0x446B, {0x88, 0xE6, 0x17, 0x06, 0x02, 0x57, 0xFF, 0xF9}};
// MF_DEVICESTREAM_FRAMESERVER_SHARED (UINT32): 1 lets the frame server share
// the stream between applications.
inline constexpr GUID MF_DEVICESTREAM_FRAMESERVER_SHARED = {0x1CB378E9, 0xB279, 0x41D4, {0xAF, 0x97, 0x34, 0xA2, 0x43, 0xE6, 0x83, 0x20}};
// MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES (UINT32): a mask of
// MFFrameSourceTypes; missing means colour.
inline constexpr GUID MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES = {0x17145FD1, 0x1B2B, 0x423C, {0x80, 0x01, 0x2B, 0x68, 0x33, 0xED, 0x35, 0x88}};

enum MFFrameSourceTypes : UINT32 {
    MFFrameSourceTypes_Color = 0x0001,
    MFFrameSourceTypes_Infrared = 0x0002,
    MFFrameSourceTypes_Depth = 0x0004,
    MFFrameSourceTypes_Image = 0x0008,
    MFFrameSourceTypes_Custom = 0x0080,
};

// ---- The virtual camera API (mfvirtualcamera.h, mfsensorgroup.dll) -------------
enum MFVirtualCameraType : int {
    MFVirtualCameraType_SoftwareCameraSource = 0,
};
enum MFVirtualCameraLifetime : int {
    MFVirtualCameraLifetime_Session = 0,  // gone when the object is released or shut down
    MFVirtualCameraLifetime_System = 1,   // kept across sessions and restarts
};
enum MFVirtualCameraAccess : int {
    MFVirtualCameraAccess_CurrentUser = 0,
    MFVirtualCameraAccess_AllUsers = 1,  // the caller must be an administrator
};

// {1C08A864-EF6C-4C75-AF59-5F2D68DA9563}. Only reached through the pointer
// MFCreateVirtualCamera hands out. Its own methods follow IMFAttributes' in
// the order of the platform's declaration (not the documentation's
// alphabetical list); the two sync-object methods and AddProperty are
// declared with opaque pointers, being unused here.
struct IMFVirtualCamera : public IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const void* devicePropertyKey, ULONG propertyType, const BYTE* data,
                                                  ULONG dataLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR entryName, LPCWSTR subkeyPath, DWORD registryType,
                                                       const BYTE* data, ULONG dataLength) = 0;
    // Creates and registers the camera; with a system lifetime the
    // registration outlives the process.
    virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG propertyId, ULONG propertyFlags,
                                                         void* payload, ULONG payloadLength, void* data,
                                                         ULONG dataLength, ULONG* dataWritten) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                      HANDLE eventHandle, IUnknown** syncObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                          HANDLE semaphoreHandle, LONG semaphoreAdjustment,
                                                          IUnknown** syncObject) = 0;
    // Releases the object's resources; removes the camera only for a
    // session lifetime.
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
inline constexpr IID kIidVirtualCamera = {0x1C08A864, 0xEF6C, 0x4C75, {0xAF, 0x59, 0x5F, 0x2D, 0x68, 0xDA, 0x95, 0x63}};

// HRESULT MFCreateVirtualCamera(type, lifetime, access, friendlyName,
// sourceId "{CLSID}", categories (null: the camera categories), count, out).
using MFCreateVirtualCameraFunction = HRESULT(STDAPICALLTYPE*)(MFVirtualCameraType, MFVirtualCameraLifetime,
                                                               MFVirtualCameraAccess, LPCWSTR, LPCWSTR,
                                                               const GUID*, ULONG, IMFVirtualCamera**);
// HRESULT MFIsVirtualCameraTypeSupported(type, BOOL* supported)
using MFIsVirtualCameraTypeSupportedFunction = HRESULT(STDAPICALLTYPE*)(MFVirtualCameraType, BOOL*);

inline constexpr wchar_t kVirtualCameraLibrary[] = L"mfsensorgroup.dll";
inline constexpr char kMFCreateVirtualCameraName[] = "MFCreateVirtualCamera";
inline constexpr char kMFIsVirtualCameraTypeSupportedName[] = "MFIsVirtualCameraTypeSupported";

}  // namespace kv20x
