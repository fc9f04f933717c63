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

namespace kv20x::tools {

class StreamFileSink final : public IPin, public IMemInputPin, public IStream {
public:
    // Creates (or truncates) the file; Valid() tells whether it could.
    explicit StreamFileSink(const std::wstring& path)
        : m_file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
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
        if (iid == IID_IUnknown || iid == IID_IPin)
            *object = static_cast<IPin*>(this);
        else if (iid == IID_IMemInputPin)
            *object = static_cast<IMemInputPin*>(this);
        else if (iid == IID_IStream || iid == IID_ISequentialStream)
            *object = static_cast<IStream*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    // Lives on the stack of the program, longer than the graph.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IPin, input side: takes the multiplexer's stream type.
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        m_peer = connector;
        m_peer->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        if (!m_peer)
            return S_FALSE;
        m_peer->Release();
        m_peer = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override
    {
        *pin = m_peer;
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override
    {
        info->pFilter = nullptr;
        info->dir = PINDIR_INPUT;
        const wchar_t name[] = L"File";
        for (size_t i = 0; i < sizeof name / sizeof name[0]; ++i)
            info->achName[i] = name[i];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override
    {
        *direction = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin: nothing comes this way.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override
    {
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    // A single small buffer: the multiplexer's allocator needs a valid alignment.
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override
    {
        properties->cBuffers = 1;
        properties->cbBuffer = 1;
        properties->cbAlign = 1;
        properties->cbPrefix = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, long count, long* processed) override
    {
        *processed = count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

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
    IPin* m_peer = nullptr;
    bool m_failed = false;
};

}  // namespace kv20x::tools
