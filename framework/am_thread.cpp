#include "framework/am_thread.h"

#include <objbase.h>

namespace kv20x {

CAMEvent::CAMEvent(bool manualReset, HRESULT* result)
    : m_event(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr))
{
    if (!m_event && result && SUCCEEDED(*result))
        *result = E_OUTOFMEMORY;
}

CAMThread::CAMThread(HRESULT* result) : m_commandEvent(true, result), m_replyEvent(false, result) {}

CAMThread::~CAMThread()
{
    Close();
}

BOOL CAMThread::Create()
{
    AutoLock lock(m_accessLock);
    if (ThreadExists())
        return FALSE;
    m_thread = StartThread(InitialThreadProc, this);
    return m_thread != nullptr;
}

HANDLE CAMThread::StartThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter)
{
    return ::CreateThread(nullptr, 0, procedure, parameter, 0, nullptr);
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID parameter)
{
    // COM for the worker only when the host already uses it: the module
    // never loads ole32 for a thread's sake.
    using CoInitializeExProc = HRESULT(WINAPI*)(LPVOID, DWORD);
    HRESULT initialised = E_FAIL;
    if (HMODULE ole = ::GetModuleHandleA("ole32.dll")) {
        const auto coInitializeEx =
            reinterpret_cast<CoInitializeExProc>(reinterpret_cast<void*>(::GetProcAddress(ole, "CoInitializeEx")));
        if (coInitializeEx)
            initialised = coInitializeEx(nullptr, COINIT_DISABLE_OLE1DDE);
    }
    const DWORD result = static_cast<CAMThread*>(parameter)->ThreadProc();
    if (SUCCEEDED(initialised))
        ::CoUninitialize();
    return result;
}

DWORD CAMThread::CallWorker(DWORD command)
{
    AutoLock lock(m_accessLock);
    if (!ThreadExists())
        return static_cast<DWORD>(E_FAIL);
    m_command = command;
    m_commandEvent.Set();
    // A worker can end without answering: one that returned from its body,
    // or one the system ended at process exit before the host released its
    // graph. Its thread handle is signalled then, and nothing will reply.
    const HANDLE waits[2] = {m_replyEvent.Handle(), m_thread};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        m_commandEvent.Reset();
        return static_cast<DWORD>(E_FAIL);
    }
    return m_reply;
}

DWORD CAMThread::GetRequest()
{
    m_commandEvent.Wait();
    return m_command;
}

BOOL CAMThread::CheckRequest(DWORD* command)
{
    if (!m_commandEvent.Wait(0))
        return FALSE;
    if (command)
        *command = m_command;
    return TRUE;
}

void CAMThread::Reply(DWORD value)
{
    m_reply = value;
    m_commandEvent.Reset();
    m_replyEvent.Set();
}

void CAMThread::Close()
{
    AutoLock lock(m_accessLock);  // never while a CallWorker waits on the handle
    HANDLE thread = ::InterlockedExchangePointer(const_cast<HANDLE*>(&m_thread), nullptr);
    if (thread) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
}

BOOL CAMThread::ThreadExists() const
{
    return m_thread != nullptr;
}

}  // namespace kv20x
