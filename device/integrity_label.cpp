#include "device/integrity_label.h"

#include <aclapi.h>

namespace kv20x {

bool ReadIntegrityLabel(HANDLE object, IntegrityLabel* label)
{
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    *label = {SECURITY_MANDATORY_MEDIUM_RID, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP};
    for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(sacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
            continue;
        auto* mandatory = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
        PSID sid = &mandatory->SidStart;
        if (!::IsValidSid(sid) || *::GetSidSubAuthorityCount(sid) == 0)
            continue;
        label->level = *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1u);
        label->policy = mandatory->Mask;
        break;
    }
    ::LocalFree(descriptor);
    return true;
}

}  // namespace kv20x
