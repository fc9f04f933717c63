#pragma once
// Registry subtrees as registration handles them: removed whole, and copied
// into memory to be put back as they were. The copy is the way back for a
// registration that fails half-way: it must leave the registration it found
// (another version's, say) as it was, not remove it.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace kv20x {

// Removes root\<path> with all its subkeys, whatever their names' language.
// A key that is not there counts as removed. A subkey that cannot be opened
// or removed is skipped; everything else is still removed, and the first
// failure is reported. Always ends.
HRESULT RemoveKeyTree(HKEY root, const wchar_t* path);

class SavedKeys {
public:
    // Copies root\path with all its values and subkeys, or notes that it is
    // not there (and which of its parents are not there either). A key that
    // cannot be read fails the save: without a full copy there is no way
    // back.
    HRESULT Save(HKEY root, const std::wstring& path);

    // Makes every saved path what it was: values set back or removed, subkeys
    // added since removed, removed ones made again. A path that was not there
    // is removed, and so are the parents made since, when they are left
    // empty. Only what differs is written, so that a key that cannot be
    // written but was not changed is no failure. Runs every step and reports
    // the first failure.
    HRESULT Restore() const;

    // A key's copy: its values and its subkeys by name.
    struct Value {
        std::wstring name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    struct Key {
        std::vector<Value> values;
        std::vector<std::pair<std::wstring, Key>> subkeys;
    };

private:
    struct Saved {
        HKEY root = nullptr;
        std::wstring path;
        bool present = false;
        Key key;
        std::vector<std::wstring> absentParents;  // deepest first
    };

    static HRESULT RestoreSaved(const Saved& saved);

    std::vector<Saved> m_saved;
};

}  // namespace kv20x
