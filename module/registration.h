#pragma once
// Registration of the module's classes with COM and with the filter mapper.

#include <windows.h>

#include "module/registry_tree.h"

namespace kv20x {

// COM on the calling thread for the length of one registration or
// unregistration, whatever the caller had: none (brought up here and taken
// down again), a single-threaded apartment or the multithreaded one (used as
// they are). Installers call the entry points from threads of every kind.
class ComForThisCall {
public:
    ComForThisCall();
    ~ComForThisCall();
    ComForThisCall(const ComForThisCall&) = delete;
    ComForThisCall& operator=(const ComForThisCall&) = delete;
    bool Ready() const;
    HRESULT Failure() const;  // why it is not ready

private:
    HRESULT m_initialised;
};

// The generic step for every class of the factory table: COM server keys
// when registering, filter mapper entries of the default category (through
// IFilterMapper2, else IFilterMapper), and the removal of the COM keys when
// unregistering. Unregistering runs every step and reports the first
// failure. Needs COM on the calling thread (ComForThisCall).
HRESULT RegisterAllServers(HMODULE module, bool registering);

// The capture filter's entry in the video input device category. Needs COM
// on the calling thread.
HRESULT RegisterCaptureDevice(bool registering);

// Copies every key a registration writes (the classes, the default
// category's filter entry, the device entry) as they are now, so that a
// registration failing half-way can put back what was there.
HRESULT SaveRegisteredKeys(SavedKeys& keys);

}  // namespace kv20x
