#pragma once
// The media type record over the platform's AM_MEDIA_TYPE, owning its format
// block (task allocator) and one reference on its object, and the helpers
// that copy, free, create and delete the platform structure.

#include "framework/platform.h"

namespace kv20x {

// Copies every field, then a fresh copy of the format block and a reference
// on the object. E_OUTOFMEMORY when the block cannot be allocated: the copy
// then has no format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Frees the format block (size and pointer cleared) and releases the object.
void FreeMediaType(AM_MEDIA_TYPE& type);

// A task-allocated structure holding a copy of `source`; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// Frees the contents and the structure of a task-allocated media type.
void DeleteMediaType(AM_MEDIA_TYPE* type);

class CMediaType : public AM_MEDIA_TYPE {
public:
    // All zero, except fixed-size samples and a sample size of 1.
    CMediaType();
    ~CMediaType();
    explicit CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);

    // Makes the format block `size` bytes (kept when the size is unchanged).
    // On failure keeps the old block if it is large enough, else returns null.
    BYTE* AllocFormatBuffer(ULONG size);
    void ResetFormatBuffer();

    // Sample size and the fixed-size flag that goes with it.
    void SetSampleSize(ULONG size);

    // The major type or the format type is the null GUID.
    bool IsPartiallySpecified() const;
    // Every non-null GUID of `partial` equals this type's, and with a format
    // type the format blocks are equal in size and content.
    bool MatchesPartial(const CMediaType& partial) const;
    bool operator==(const CMediaType& other) const;

    // False when the last copy into this record could not get its format block.
    bool IsValid() const { return m_valid; }

private:
    bool m_valid = true;
};

}  // namespace kv20x
