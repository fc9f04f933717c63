#pragma once
// Registration of the module's classes with COM and with the filter mapper.

#include <windows.h>

namespace kv20x {

// The generic step for every class of the factory table: COM server keys
// when registering, filter mapper entries of the default category (through
// IFilterMapper2, else IFilterMapper), and the removal of the COM keys when
// unregistering.
HRESULT RegisterAllServers(HMODULE module, bool registering);

// The capture filter's entry in the video input device category.
HRESULT RegisterCaptureDevice(bool registering);

// Removes HKEY_CLASSES_ROOT\<path> with all its subkeys. A key that is not
// there counts as removed; a subkey that cannot be removed is given up on,
// and the failure is reported.
HRESULT RemoveKeyTree(HKEY root, const char* path);

}  // namespace kv20x
