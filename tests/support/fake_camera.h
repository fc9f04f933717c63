#pragma once
// IKV20X written in the test: holds the values and records every setter call
// as text ("SetGamma(120)"), so that a test can state exactly what a page
// sent. A pending one-shot white balance completes after a number of polls,
// or never.

#include <windows.h>
#include <vfwmsgs.h>

#include <atomic>
#include <string>
#include <vector>

#include "settings/ikv20x.h"

namespace kv20x::test {

class FakeCamera final : public IKV20X {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IKV20X) {
            *object = static_cast<IKV20X*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE GetVideoSize(int* v) override { return Get(v, size); }
    HRESULT STDMETHODCALLTYPE SetVideoSize(int v) override
    {
        Log("SetVideoSize", {v});
        if (refuseSize)
            return VFW_E_ALREADY_CONNECTED;
        size = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWhiteBalance(BOOL* p, BYTE* r, BYTE* g, BYTE* b) override
    {
        if (pending && balancePolls >= 0 && ++polls > balancePolls) {
            pending = FALSE;
            red = balancedRed;
            green = 64;
            blue = balancedBlue;
        }
        *p = pending;
        *r = red;
        *g = green;
        *b = blue;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetWhiteBalance(BOOL p, BYTE r, BYTE g, BYTE b) override
    {
        Log("SetWhiteBalance", {p, r, g, b});
        pending = p;
        red = r;
        green = g;
        blue = b;
        polls = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetExposure(BOOL* a, BYTE* t, WORD* e, WORD* g) override
    {
        *a = autoExposure;
        *t = target;
        *e = exposure;
        *g = gain;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetExposure(BOOL a, BYTE t, WORD e, WORD g) override
    {
        Log("SetExposure", {a, t, e, g});
        autoExposure = a;
        target = t;
        exposure = e;
        gain = g;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSpeed(BYTE* v) override { return Get(v, speed); }
    HRESULT STDMETHODCALLTYPE SetSpeed(BYTE v) override { return Set("SetSpeed", speed, v); }
    HRESULT STDMETHODCALLTYPE GetGamma(BYTE* v) override { return Get(v, gamma); }
    HRESULT STDMETHODCALLTYPE SetGamma(BYTE v) override { return Set("SetGamma", gamma, v); }
    HRESULT STDMETHODCALLTYPE GetContrast(BYTE* v) override { return Get(v, contrast); }
    HRESULT STDMETHODCALLTYPE SetContrast(BYTE v) override { return Set("SetContrast", contrast, v); }
    HRESULT STDMETHODCALLTYPE GetColorEnhancement(BOOL* e, BYTE* s) override
    {
        *e = enhancement;
        *s = saturation;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorEnhancement(BOOL e, BYTE s) override
    {
        Log("SetColorEnhancement", {e, s});
        enhancement = e;
        saturation = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMonoMode(BOOL* v) override { return Get(v, mono); }
    HRESULT STDMETHODCALLTYPE SetMonoMode(BOOL v) override { return Set("SetMonoMode", mono, v); }
    HRESULT STDMETHODCALLTYPE GetVerticalFlip(BOOL* v) override { return Get(v, vflip); }
    HRESULT STDMETHODCALLTYPE SetVerticalFlip(BOOL v) override { return Set("SetVerticalFlip", vflip, v); }
    HRESULT STDMETHODCALLTYPE SetPowerFrequency(BOOL v) override { return Set("SetPowerFrequency", hz, v); }
    HRESULT STDMETHODCALLTYPE GetPowerFrequency(BOOL* v) override { return Get(v, hz); }
    HRESULT STDMETHODCALLTYPE SaveSettings() override
    {
        Log("SaveSettings", {});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SelectParameterGroup(BYTE v) override { return Set("SelectParameterGroup", group, v); }
    HRESULT STDMETHODCALLTYPE GetParameterGroup(BYTE* v) override { return Get(v, group); }
    HRESULT STDMETHODCALLTYPE GetHorizontalMirror(BOOL* v) override { return Get(v, hflip); }
    HRESULT STDMETHODCALLTYPE SetHorizontalMirror(BOOL v) override { return Set("SetHorizontalMirror", hflip, v); }
    HRESULT STDMETHODCALLTYPE GetRowTime(LONG* v) override { return Get(v, rowTime); }

    std::vector<std::string> calls;
    std::atomic<ULONG> refs{1};
    int size = 1;
    BOOL pending = FALSE;
    BYTE red = 105, green = 64, blue = 122;
    int balancePolls = 3;  // polls before a balance completes; -1: never
    int polls = 0;
    BYTE balancedRed = 90, balancedBlue = 140;
    BOOL autoExposure = TRUE;
    BYTE target = 100;
    WORD exposure = 300, gain = 20;
    BYTE speed = 0, gamma = 100, contrast = 30, saturation = 100, group = 0;
    BOOL enhancement = TRUE, mono = FALSE, vflip = TRUE, hflip = TRUE, hz = TRUE;
    LONG rowTime = 85;
    bool refuseSize = false;

private:
    template <typename T>
    HRESULT Get(T* out, T value)
    {
        *out = value;
        return S_OK;
    }
    template <typename T>
    HRESULT Set(const char* name, T& field, T value)
    {
        Log(name, {static_cast<long>(value)});
        field = value;
        return S_OK;
    }
    void Log(const char* name, std::initializer_list<long> values)
    {
        std::string text = name;
        text += '(';
        bool first = true;
        for (long v : values) {
            if (!first)
                text += ',';
            text += std::to_string(v);
            first = false;
        }
        text += ')';
        calls.push_back(text);
    }
};

}  // namespace kv20x::test
