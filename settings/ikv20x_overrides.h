#pragma once
// The IKV20X methods as overrides, for the classes that implement the
// interface (the capture filter forwards them to its pin, which serves them).

#include "settings/ikv20x.h"

#define KV20X_IKV20X_OVERRIDES                                                                                  \
    HRESULT STDMETHODCALLTYPE GetVideoSize(int* size) override;                                                \
    HRESULT STDMETHODCALLTYPE SetVideoSize(int size) override;                                                 \
    HRESULT STDMETHODCALLTYPE GetWhiteBalance(BOOL* autoWhiteBalance, BYTE* red, BYTE* green, BYTE* blue)      \
        override;                                                                                               \
    HRESULT STDMETHODCALLTYPE SetWhiteBalance(BOOL autoWhiteBalance, BYTE red, BYTE green, BYTE blue) override; \
    HRESULT STDMETHODCALLTYPE GetExposure(BOOL* autoExposure, BYTE* target, WORD* exposureRows, WORD* gain)    \
        override;                                                                                               \
    HRESULT STDMETHODCALLTYPE SetExposure(BOOL autoExposure, BYTE target, WORD exposureRows, WORD gain)        \
        override;                                                                                               \
    HRESULT STDMETHODCALLTYPE GetSpeed(BYTE* speed) override;                                                  \
    HRESULT STDMETHODCALLTYPE SetSpeed(BYTE speed) override;                                                   \
    HRESULT STDMETHODCALLTYPE GetGamma(BYTE* gamma) override;                                                  \
    HRESULT STDMETHODCALLTYPE SetGamma(BYTE gamma) override;                                                   \
    HRESULT STDMETHODCALLTYPE GetContrast(BYTE* contrast) override;                                            \
    HRESULT STDMETHODCALLTYPE SetContrast(BYTE contrast) override;                                             \
    HRESULT STDMETHODCALLTYPE GetColorEnhancement(BOOL* enabled, BYTE* saturation) override;                   \
    HRESULT STDMETHODCALLTYPE SetColorEnhancement(BOOL enabled, BYTE saturation) override;                     \
    HRESULT STDMETHODCALLTYPE GetMonoMode(BOOL* mono) override;                                                \
    HRESULT STDMETHODCALLTYPE SetMonoMode(BOOL mono) override;                                                 \
    HRESULT STDMETHODCALLTYPE GetVerticalFlip(BOOL* upright) override;                                         \
    HRESULT STDMETHODCALLTYPE SetVerticalFlip(BOOL upright) override;                                          \
    HRESULT STDMETHODCALLTYPE SetPowerFrequency(BOOL fiftyHertz) override;                                     \
    HRESULT STDMETHODCALLTYPE GetPowerFrequency(BOOL* fiftyHertz) override;                                    \
    HRESULT STDMETHODCALLTYPE SaveSettings() override;                                                         \
    HRESULT STDMETHODCALLTYPE SelectParameterGroup(BYTE group) override;                                       \
    HRESULT STDMETHODCALLTYPE GetParameterGroup(BYTE* group) override;                                         \
    HRESULT STDMETHODCALLTYPE GetHorizontalMirror(BOOL* mirror) override;                                      \
    HRESULT STDMETHODCALLTYPE SetHorizontalMirror(BOOL mirror) override;                                       \
    HRESULT STDMETHODCALLTYPE GetRowTime(LONG* microseconds) override;
