#pragma once
// The platform's standard camera interfaces on the capture filter, for
// applications that never ask for IKV20X: IAMVideoProcAmp, IAMCameraControl,
// IAMVideoControl, and IKsPropertySet with the mains frequency of the
// video-proc-amp property set. Each is a sub-object whose IUnknown is the
// filter's, and each reads and changes the camera through the pin's IKV20X
// methods, so a change made here takes the same locks, rebuilds the same
// tables, writes the same registers and is saved the same way.
//
// Locking: none of their own; the pin's IKV20X methods take what they need.

#include <windows.h>
#include <dshow.h>

#include "framework/unknown.h"

namespace kv20x {

class CKV20X;
class CPushPinKV20X;

// What the sub-objects need from the filter: its IUnknown and its pin.
class CStandardControlBase {
public:
    CStandardControlBase(IUnknown* owner, const CKV20X& filter) : m_owner(owner), m_filter(filter) {}

protected:
    IUnknown* GetOwner() const { return m_owner; }
    // The filter's pin; null only if it could not be created.
    CPushPinKV20X* Pin() const;

private:
    IUnknown* m_owner;
    const CKV20X& m_filter;
};

class CVideoProcAmp final : public IAMVideoProcAmp, private CStandardControlBase {
public:
    using CStandardControlBase::CStandardControlBase;
    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE GetRange(long property, long* min, long* max, long* step, long* defaultValue,
                                       long* capsFlags) override;
    HRESULT STDMETHODCALLTYPE Set(long property, long value, long flags) override;
    HRESULT STDMETHODCALLTYPE Get(long property, long* value, long* flags) override;
};

class CCameraControl final : public IAMCameraControl, private CStandardControlBase {
public:
    using CStandardControlBase::CStandardControlBase;
    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE GetRange(long property, long* min, long* max, long* step, long* defaultValue,
                                       long* capsFlags) override;
    HRESULT STDMETHODCALLTYPE Set(long property, long value, long flags) override;
    HRESULT STDMETHODCALLTYPE Get(long property, long* value, long* flags) override;
};

class CVideoControl final : public IAMVideoControl, private CStandardControlBase {
public:
    using CStandardControlBase::CStandardControlBase;
    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE GetCaps(IPin* pin, long* caps) override;
    HRESULT STDMETHODCALLTYPE SetMode(IPin* pin, long mode) override;
    HRESULT STDMETHODCALLTYPE GetMode(IPin* pin, long* mode) override;
    HRESULT STDMETHODCALLTYPE GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameDuration) override;
    HRESULT STDMETHODCALLTYPE GetMaxAvailableFrameRate(IPin* pin, long index, SIZE dimensions,
                                                       LONGLONG* frameDuration) override;
    HRESULT STDMETHODCALLTYPE GetFrameRateList(IPin* pin, long index, SIZE dimensions, long* count,
                                               LONGLONG** frameDurations) override;

private:
    // E_POINTER, E_INVALIDARG for another pin, or S_OK; with an out-pointer,
    // E_POINTER also when it is null.
    HRESULT CheckPin(IPin* pin) const;
    HRESULT CheckPin(IPin* pin, const void* out) const;
    // The size index of the stream caps entry `index` with `dimensions`.
    HRESULT CheckSize(long index, SIZE dimensions) const;
};

class CFilterPropertySet final : public IKsPropertySet, private CStandardControlBase {
public:
    using CStandardControlBase::CStandardControlBase;
    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                                  DWORD dataBytes) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                                  DWORD dataBytes, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
};

}  // namespace kv20x
