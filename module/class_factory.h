#pragma once
// The class object of one of the module's classes.

#include "framework/unknown.h"
#include "module/factory_table.h"

namespace kv20x {

class CClassFactory final : public IClassFactory, public CUnknown {
public:
    explicit CClassFactory(const FactoryTemplateEntry* entry);

    // The factory is its own unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // Servers locked by LockServer, module-wide.
    static LONG ServerLocks();

private:
    const FactoryTemplateEntry* m_entry;
};

}  // namespace kv20x
