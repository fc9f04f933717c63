#pragma once
// A worker thread with a one-command-at-a-time protocol between the threads
// that change a filter's state and the worker.
//
// Locking: m_accessLock serialises CallWorker, Create and Close, so at most
// one command is in flight and the thread handle is not closed under a
// caller that waits on it. The command event is manual-reset: it stays set
// from CallWorker until the worker's Reply, which resets it before setting
// the auto-reset reply event, so a caller never sees a reply to an earlier
// command. The command event doubles as the worker's interrupt: a worker
// waiting for anything else can wait on it too. The worker itself never
// takes m_accessLock.

#include <windows.h>

#include "base/handles.h"

namespace kv20x {

class CAMEvent {
public:
    // A creation failure turns a successful *result into E_OUTOFMEMORY.
    explicit CAMEvent(bool manualReset, HRESULT* result = nullptr);
    ~CAMEvent() = default;

    void Set() const { ::SetEvent(m_event.get()); }
    void Reset() const { ::ResetEvent(m_event.get()); }
    bool Wait(DWORD timeout = INFINITE) const { return ::WaitForSingleObject(m_event.get(), timeout) == WAIT_OBJECT_0; }
    HANDLE Handle() const { return m_event.get(); }

private:
    UniqueHandle m_event;
};

class CAMThread {
public:
    explicit CAMThread(HRESULT* result = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // The worker's body.
    virtual DWORD ThreadProc() = 0;

    // Starts the worker unless one is held; whether it was started.
    BOOL Create();
    // Hands a command to the worker and waits for its reply, or for its end:
    // E_FAIL without a worker, and from a worker that ended without
    // answering (the system ends every other thread at process exit).
    DWORD CallWorker(DWORD command);
    // Waits for and returns the next command (worker side).
    DWORD GetRequest();
    // Whether a command is waiting, and which (worker side).
    BOOL CheckRequest(DWORD* command);
    // Answers the waiting command (worker side).
    void Reply(DWORD value);
    // Waits for the worker to end and releases its handle.
    void Close();
    BOOL ThreadExists() const;

    // Signalled while a command waits for the worker.
    HANDLE GetRequestHandle() const { return m_commandEvent.Handle(); }

protected:
    // Starts the thread; a subclass may refuse (null) to show what a machine
    // out of threads does.
    virtual HANDLE StartThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter);

private:
    static DWORD WINAPI InitialThreadProc(LPVOID parameter);

    CAMEvent m_commandEvent;
    CAMEvent m_replyEvent;
    volatile DWORD m_command = 0;
    volatile DWORD m_reply = 0;
    HANDLE volatile m_thread = nullptr;
    CritSec m_accessLock;
};

}  // namespace kv20x
