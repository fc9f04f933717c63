#include "module/factory_table.h"

#include "filter/capture_filter.h"
#include "settings/class_ids.h"
#include "ui/setup_page.h"
#include "ui/size_page.h"

namespace kv20x {

namespace {

const REGPINTYPES kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};

wchar_t g_previewPinName[] = L"Preview";  // the pin's registered name; the live pin is "Out"

const REGFILTERPINS kSetupPins[] = {{
    g_previewPinName,
    FALSE,  // rendered
    TRUE,   // output
    FALSE,  // zero
    FALSE,  // many
    &CLSID_NULL,
    nullptr,
    1,
    kPinTypes,
}};

const FilterSetupRecord kFilterSetup = {&kClsidCaptureFilter, kFilterName, MERIT_DO_NOT_USE, 1, kSetupPins};

const REGFILTERPINS2 kCapturePins[] = {{
    REG_PINFLAG_B_OUTPUT,
    1,  // instances
    1,
    kPinTypes,
    0,
    nullptr,
    &PIN_CATEGORY_CAPTURE,
}};

REGFILTER2 MakeCaptureRegistration()
{
    REGFILTER2 registration{};
    registration.dwVersion = 2;
    registration.dwMerit = MERIT_DO_NOT_USE;
    registration.cPins2 = 1;
    registration.rgPins2 = kCapturePins;
    return registration;
}

}  // namespace

const FactoryTemplateEntry g_factoryTemplates[] = {
    {kFilterName, &kClsidCaptureFilter, CKV20X::CreateInstance, nullptr, &kFilterSetup},
    {kSizePageName, &kClsidSizePage, CSizePropertyPage::CreateInstance, nullptr, nullptr},
    {kSetupPageName, &kClsidSetupPage, CSetupPage::CreateInstance, nullptr, nullptr},
};
const int g_factoryTemplateCount = sizeof g_factoryTemplates / sizeof g_factoryTemplates[0];

const REGFILTER2 g_captureRegistration = MakeCaptureRegistration();

}  // namespace kv20x
