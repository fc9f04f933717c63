// The capture thread and the hand-off of raw frames between it and the
// frame pump. Three buffers: one being filled, one being converted, one
// spare. The free list is last in, first out (a returned buffer is refilled
// first); the ready list first in, first out (frames reach the pump in the
// order they were captured).
//
// Locking: m_bufferListLock guards m_freeList, m_readyList and the links of
// the nodes on them; it is held for one link or unlink only. Each node is on
// one list or held by exactly one thread. m_keepCapturing and
// m_captureHealthy are aligned flags written by one thread and read by the
// other; the events carry the wake-ups: m_freeBufferEvent (a node was freed,
// or the capture thread must look at m_keepCapturing) and m_frameReadyEvent
// (a node is ready, or the capture thread has failed). Both are auto-reset
// and every waiter looks at its list before it waits.

#include "device/device_link.h"
#include "device/frame_read.h"
#include "pin/camera_port.h"
#include "pin/capture_pin.h"

namespace kv20x {

void CPushPinKV20X::ResetFrameLists()
{
    ::SetEvent(m_freeBufferEvent.get());
    ::ResetEvent(m_frameReadyEvent.get());
    AutoLock lock(m_bufferListLock);
    m_nodes[0].next = &m_nodes[1];
    m_nodes[1].next = &m_nodes[2];
    m_nodes[2].next = nullptr;
    m_freeList = &m_nodes[0];
    m_readyList = nullptr;
}

void CPushPinKV20X::StartCapture()
{
    ::InterlockedExchange(&m_keepCapturing, 1);
    ResetFrameLists();
    // Healthy before the thread runs, so that a failure it meets at once
    // cannot be overwritten.
    ::InterlockedExchange(&m_captureHealthy, 1);
    m_captureThread.reset(StartCaptureThread(CaptureThreadProc, this));
    if (!m_captureThread) {
        // No second thread to be had: read on the worker from now on.
        ::InterlockedExchange(&m_captureHealthy, 0);
        ::InterlockedExchange(&m_keepCapturing, 0);
        m_multiProcessor = false;
    }
}

void CPushPinKV20X::StopCapture()
{
    if (!m_captureThread)
        return;
    ::InterlockedExchange(&m_keepCapturing, 0);
    ::SetEvent(m_freeBufferEvent.get());
    // A read the camera never completes must not hold the join.
    if (m_device)
        m_device->port->CancelReads();
    ::WaitForSingleObject(m_captureThread.get(), INFINITE);
    m_captureThread.reset();
}

DWORD WINAPI CPushPinKV20X::CaptureThreadProc(LPVOID pin)
{
    return static_cast<CPushPinKV20X*>(pin)->CaptureLoop();
}

DWORD CPushPinKV20X::CaptureLoop()
{
    while (m_keepCapturing) {
        ::WaitForSingleObject(m_freeBufferEvent.get(), INFINITE);
        while (m_keepCapturing) {
            FrameNode* node;
            {
                AutoLock lock(m_bufferListLock);
                node = m_freeList;
                if (node)
                    m_freeList = node->next;
            }
            if (!node) {
                m_watchdog.ReaderIdle();  // every buffer is full: the camera is not being asked
                break;
            }
            m_watchdog.ReaderBusy();
            const int result = FrameRead(*m_device, node->data);
            if (result == kFrameReadFailed) {
                // The pump learns of it at once, not only at its next frame.
                ::InterlockedExchange(&m_captureHealthy, 0);
                ::SetEvent(m_frameReadyEvent.get());
                return 0;
            }
            if (result == kFrameReadComplete) {
                m_watchdog.FrameArrived();
                node->next = nullptr;
                {
                    AutoLock lock(m_bufferListLock);
                    FrameNode** tail = &m_readyList;
                    while (*tail)
                        tail = &(*tail)->next;
                    *tail = node;
                }
                ::SetEvent(m_frameReadyEvent.get());
            } else {
                AutoLock lock(m_bufferListLock);
                node->next = m_freeList;
                m_freeList = node;
            }
        }
    }
    return 0;
}

bool CPushPinKV20X::PopReadyFrame(FrameNode** node)
{
    AutoLock lock(m_bufferListLock);
    *node = m_readyList;
    if (*node)
        m_readyList = (*node)->next;
    return *node != nullptr;
}

// Frames read whole before a failure are still delivered: the list is looked
// at before the health flag. The capture thread queues a frame before it can
// fail on a later one, so once the flag reads clear, a second look at the
// list sees every frame it will ever hold.
CPushPinKV20X::Take CPushPinKV20X::TakeReadyFrame(FrameNode** node)
{
    if (PopReadyFrame(node))
        return Take::Frame;
    if (!m_captureHealthy)
        return PopReadyFrame(node) ? Take::Frame : Take::Unhealthy;
    // Any command (a stop above all) ends the wait as well as a frame does.
    const HANDLE waits[2] = {GetRequestHandle(), m_frameReadyEvent.get()};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    // Woken by a frame: take it now rather than go round the loop for it.
    return PopReadyFrame(node) ? Take::Frame : Take::None;
}

void CPushPinKV20X::ReturnFrame(FrameNode* node)
{
    {
        AutoLock lock(m_bufferListLock);
        node->next = m_freeList;
        m_freeList = node;
    }
    ::SetEvent(m_freeBufferEvent.get());
}

}  // namespace kv20x
