#pragma once
// The mandatory integrity label of a kernel object: the level below which a
// process is kept from it, and for which kinds of access.

#include <windows.h>

namespace kv20x {

struct IntegrityLabel {
    DWORD level = 0;   // a SECURITY_MANDATORY_*_RID value
    DWORD policy = 0;  // SYSTEM_MANDATORY_LABEL_NO_{WRITE,READ,EXECUTE}_UP
};

// The label of the object behind `object` (opened with READ_CONTROL). An
// object without one answers as the system treats it: medium, no write up.
// False when the security of the object cannot be read.
bool ReadIntegrityLabel(HANDLE object, IntegrityLabel* label);

}  // namespace kv20x
