#pragma once
// An input pin that writes what an AVI multiplexer sends it into a file, for
// platforms whose File Writer does not hand the multiplexer the IStream it
// writes through (Wine 8's does not). The multiplexer seeks and writes the
// file itself; samples that arrive through Receive are ignored.
//
// Single-threaded use: the multiplexer writes on the thread that runs the
// graph's state changes and on the streaming thread, never at once.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>

#include "tools/common/graph_parts.h"

namespace kv20x::tools {

class StreamFileSink final : public StackInputPin, public IStream {
public:
    // Creates (or truncates) the file; Valid() tells whether it could.
    explicit StreamFileSink(const std::wstring& path)
        : StackInputPin(L"File"),
          m_file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~StreamFileSink()
    {
        if (Valid())
            ::CloseHandle(m_file);
    }
    StreamFileSink(const StreamFileSink&) = delete;
    StreamFileSink& operator=(const StreamFileSink&) = delete;

    bool Valid() const { return m_file != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (Valid())
            ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IStream || iid == IID_ISequentialStream) {
            *object = static_cast<IStream*>(this);
            return S_OK;
        }
        return StackInputPin::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IMemInputPin: nothing comes this way. A single small buffer: the
    // multiplexer's allocator needs a valid alignment.
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override
    {
        properties->cBuffers = 1;
        properties->cbBuffer = 1;
        properties->cbAlign = 1;
        properties->cbPrefix = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample*) override { return S_OK; }

    // IStream, over the file.
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG bytes, ULONG* read) override
    {
        DWORD done = 0;
        const BOOL ok = ::ReadFile(m_file, data, bytes, &done, nullptr);
        if (read)
            *read = done;
        return ok ? (done == bytes ? S_OK : S_FALSE) : STG_E_READFAULT;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) override
    {
        DWORD done = 0;
        const BOOL ok = ::WriteFile(m_file, data, bytes, &done, nullptr);
        if (written)
            *written = done;
        m_failed |= !ok || done != bytes;
        return ok ? S_OK : STG_E_WRITEFAULT;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        LARGE_INTEGER now;
        if (!::SetFilePointerEx(m_file, move, &now, origin))
            return STG_E_SEEKERROR;
        if (position)
            position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        LARGE_INTEGER here{}, target;
        ::SetFilePointerEx(m_file, here, &here, FILE_CURRENT);
        target.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        ::SetFilePointerEx(m_file, target, nullptr, FILE_BEGIN);
        const BOOL ok = ::SetEndOfFile(m_file);
        ::SetFilePointerEx(m_file, here, nullptr, FILE_BEGIN);
        return ok ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return ::FlushFileBuffers(m_file) ? S_OK : STG_E_WRITEFAULT; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override
    {
        std::memset(stat, 0, sizeof *stat);
        LARGE_INTEGER size{};
        ::GetFileSizeEx(m_file, &size);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    // Whether any write fell short.
    bool Failed() const { return m_failed; }

private:
    HANDLE m_file;
    bool m_failed = false;
};

}  // namespace kv20x::tools
