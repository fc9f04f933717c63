#include "module/registry_tree.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "base/handles.h"

namespace kv20x {

namespace {

constexpr DWORD kMaxKeyNameChars = 255;

using Key = SavedKeys::Key;
using Value = SavedKeys::Value;

HRESULT Win32Result(LONG error)
{
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

void KeepFirstFailure(HRESULT& first, HRESULT hr)
{
    if (FAILED(hr) && SUCCEEDED(first))
        first = hr;
}

bool KeyExists(HKEY parent, const wchar_t* name)
{
    UniqueHKey key;
    return ::RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, key.put()) != ERROR_FILE_NOT_FOUND;
}

// Removes `name` below `parent` with everything under it, as far as it can.
// Every subkey is tried once: one that cannot be opened, emptied or removed
// is skipped and counted as a failure, so that the walk always ends.
HRESULT RemoveSubtree(HKEY parent, const wchar_t* name)
{
    UniqueHKey key;
    const LONG opened = ::RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND)
        return S_OK;  // nothing there to remove
    HRESULT result = S_OK;
    if (opened != ERROR_SUCCESS) {
        result = Win32Result(opened);
    } else {
        // Removed subkeys shift the others down: keep taking the first one
        // that has not been given up on.
        DWORD skipped = 0;
        for (;;) {
            wchar_t subkey[kMaxKeyNameChars + 1];
            DWORD length = kMaxKeyNameChars + 1;
            const LONG error =
                ::RegEnumKeyExW(key.get(), skipped, subkey, &length, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_NO_MORE_ITEMS)
                break;
            if (error != ERROR_SUCCESS) {
                KeepFirstFailure(result, Win32Result(error));
                break;
            }
            KeepFirstFailure(result, RemoveSubtree(key.get(), subkey));
            // Whatever the removal answered, a subkey still there would be
            // met again at this index: step over it, as a failure.
            if (KeyExists(key.get(), subkey)) {
                KeepFirstFailure(result, Win32Result(ERROR_ACCESS_DENIED));
                ++skipped;
            }
        }
        key.reset();
    }
    const LONG error = ::RegDeleteKeyW(parent, name);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        KeepFirstFailure(result, Win32Result(error));
    return result;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return ::_wcsicmp(a.c_str(), b.c_str()) == 0;  // the registry ignores case in names
}

template <typename Item, typename NameOf>
const Item* FindByName(const std::vector<Item>& items, const std::wstring& name, NameOf nameOf)
{
    for (const Item& item : items)
        if (SameName(nameOf(item), name))
            return &item;
    return nullptr;
}

const Value* FindValue(const std::vector<Value>& values, const std::wstring& name)
{
    return FindByName(values, name, [](const Value& v) -> const std::wstring& { return v.name; });
}

bool HasSubkey(const Key& key, const std::wstring& name)
{
    return FindByName(key.subkeys, name, [](const auto& s) -> const std::wstring& { return s.first; }) != nullptr;
}

// One key's values, and its subkeys: copied whole when `deep`, else by name
// only.
HRESULT ReadKey(HKEY key, Key& into, bool deep)
{
    DWORD subkeys = 0, values = 0, longestValueName = 0, longestData = 0;
    LONG error = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                    &longestValueName, &longestData, nullptr, nullptr);
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    std::vector<wchar_t> name(longestValueName + 1);
    std::vector<BYTE> data(longestData);
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD bytes = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        error = ::RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, data.data(), &bytes);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error != ERROR_SUCCESS)
            return Win32Result(error);  // also a value that grew meanwhile: the copy would not be whole
        into.values.push_back(Value{std::wstring(name.data(), nameChars), type,
                                    std::vector<BYTE>(data.begin(), data.begin() + bytes)});
    }
    for (DWORD i = 0;; ++i) {
        wchar_t subkey[kMaxKeyNameChars + 1];
        DWORD length = kMaxKeyNameChars + 1;
        error = ::RegEnumKeyExW(key, i, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error != ERROR_SUCCESS)
            return Win32Result(error);
        into.subkeys.emplace_back(std::wstring(subkey, length), Key{});
        if (!deep)
            continue;
        UniqueHKey child;
        error = ::RegOpenKeyExW(key, subkey, 0, KEY_READ, child.put());
        if (error != ERROR_SUCCESS)
            return Win32Result(error);
        const HRESULT hr = ReadKey(child.get(), into.subkeys.back().second, true);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

bool SameValue(const Value& a, const Value& b)
{
    return a.type == b.type && a.data == b.data;
}

// Sets the key's values to the saved ones. The key is opened for writing only
// when something differs.
HRESULT RestoreValues(HKEY key, const std::vector<Value>& current, const std::vector<Value>& saved)
{
    bool differs = current.size() != saved.size();
    for (const Value& value : saved) {
        const Value* now = FindValue(current, value.name);
        differs = differs || !now || !SameValue(*now, value);
    }
    if (!differs)
        return S_OK;
    UniqueHKey writable;
    const LONG error = ::RegOpenKeyExW(key, nullptr, 0, KEY_SET_VALUE, writable.put());
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    HRESULT result = S_OK;
    for (const Value& value : current)
        if (!FindValue(saved, value.name))
            KeepFirstFailure(result, Win32Result(::RegDeleteValueW(writable.get(), value.name.c_str())));
    for (const Value& value : saved) {
        const Value* now = FindValue(current, value.name);
        if (now && SameValue(*now, value))
            continue;
        KeepFirstFailure(result, Win32Result(::RegSetValueExW(writable.get(), value.name.c_str(), 0, value.type,
                                                              value.data.data(),
                                                              static_cast<DWORD>(value.data.size()))));
    }
    return result;
}

// parent\name made what `saved` holds. `parent` may be asked to make the key
// again.
HRESULT RestoreKey(HKEY parent, const std::wstring& name, const Key& saved)
{
    UniqueHKey key;
    LONG error = ::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, key.put());
    if (error == ERROR_FILE_NOT_FOUND)
        error = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr);
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    Key current;
    HRESULT result = ReadKey(key.get(), current, false);
    if (FAILED(result))
        return result;
    result = RestoreValues(key.get(), current.values, saved.values);
    for (const auto& subkey : current.subkeys)
        if (!HasSubkey(saved, subkey.first))
            KeepFirstFailure(result, RemoveSubtree(key.get(), subkey.first.c_str()));
    // Making a subkey again takes the right to make subkeys here.
    const bool remakes = std::any_of(saved.subkeys.begin(), saved.subkeys.end(),
                                     [&](const auto& subkey) { return !HasSubkey(current, subkey.first); });
    UniqueHKey maker;
    if (remakes) {
        error = ::RegOpenKeyExW(key.get(), nullptr, 0, KEY_READ | KEY_CREATE_SUB_KEY, maker.put());
        KeepFirstFailure(result, Win32Result(error));
    }
    const HKEY parentOfSubkeys = maker ? maker.get() : key.get();
    for (const auto& subkey : saved.subkeys)
        KeepFirstFailure(result, RestoreKey(parentOfSubkeys, subkey.first, subkey.second));
    return result;
}

// A key made since the save, and left with nothing in it, goes.
void RemoveIfEmpty(HKEY root, const std::wstring& path)
{
    UniqueHKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
        return;
    key.reset();
    ::RegDeleteKeyW(root, path.c_str());
}

}  // namespace

HRESULT RemoveKeyTree(HKEY root, const wchar_t* path)
{
    return RemoveSubtree(root, path);
}

HRESULT SavedKeys::Save(HKEY root, const std::wstring& path)
{
    try {
        Saved saved;
        saved.root = root;
        saved.path = path;
        UniqueHKey key;
        const LONG error = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
        if (error == ERROR_SUCCESS) {
            saved.present = true;
            const HRESULT hr = ReadKey(key.get(), saved.key, true);
            if (FAILED(hr))
                return hr;
        } else if (error == ERROR_FILE_NOT_FOUND) {
            std::wstring parent = path;
            for (size_t end = parent.rfind(L'\\'); end != std::wstring::npos; end = parent.rfind(L'\\')) {
                parent.resize(end);
                if (KeyExists(root, parent.c_str()))
                    break;
                saved.absentParents.push_back(parent);
            }
        } else {
            return Win32Result(error);
        }
        m_saved.push_back(std::move(saved));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SavedKeys::RestoreSaved(const Saved& saved)
{
    if (saved.present)
        return RestoreKey(saved.root, saved.path, saved.key);
    const HRESULT hr = RemoveSubtree(saved.root, saved.path.c_str());
    for (const std::wstring& parent : saved.absentParents)
        RemoveIfEmpty(saved.root, parent);
    return hr;
}

HRESULT SavedKeys::Restore() const
{
    HRESULT result = S_OK;
    for (const Saved& saved : m_saved) {
        try {
            KeepFirstFailure(result, RestoreSaved(saved));
        } catch (const std::bad_alloc&) {
            KeepFirstFailure(result, E_OUTOFMEMORY);
        }
    }
    return result;
}

}  // namespace kv20x
