#pragma once
// The classes the module serves: the capture filter and its two property
// pages, with what registration needs to know of each.

#include "framework/platform.h"
#include "framework/unknown.h"

namespace kv20x {

// How a filter is described to the filter mapper in the default category.
struct FilterSetupRecord {
    const CLSID* clsid;
    const wchar_t* name;
    DWORD merit;
    UINT pinCount;
    const REGFILTERPINS* pins;
};

struct FactoryTemplateEntry {
    const wchar_t* name;
    const CLSID* clsid;
    // Returns the new object's non-delegating side, or null; *result reports
    // the first error met.
    CUnknown* (*create)(IUnknown* outer, HRESULT* result);
    void (*initialise)(BOOL loading, const CLSID* clsid);  // optional
    const FilterSetupRecord* setup;                       // optional
};

extern const FactoryTemplateEntry g_factoryTemplates[];
extern const int g_factoryTemplateCount;

// The capture category entry: the video input device category, pin category
// capture.
extern const REGFILTER2 g_captureRegistration;

}  // namespace kv20x
