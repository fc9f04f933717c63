#pragma once
// The narrow port through which the device link reaches the camera's kernel
// driver: open, control requests, overlapped bulk reads into four ring slots,
// cancellation and the waits of the programming sequences. The module uses
// the Win32 port on the driver's device; tests put a simulated camera behind
// the same port.

#include <cstdint>

namespace kv20x {

class DevicePort {
public:
    static constexpr int kReadSlots = 4;

    virtual ~DevicePort() = default;

    enum class OpenResult {
        Opened,
        Absent,   // no such device: no camera, or no driver
        Refused,  // the device is there but refused this open: another handle
                  // holds it, or this process may not open it
    };
    // Opens the device for overlapped I/O. Sends the camera nothing.
    virtual OpenResult Open(const char* path) = 0;

    // The mandatory integrity level of the open device (a
    // SECURITY_MANDATORY_*_RID value): processes below it cannot open it for
    // writing. Medium, the system's default for an object without a label,
    // unless the port knows better.
    static constexpr std::uint32_t kMediumIntegrity = 0x2000;
    virtual std::uint32_t IntegrityLevel() const { return kMediumIntegrity; }

    // A control request the camera has not answered after this long is
    // withdrawn and fails. A camera answers one in a few milliseconds; one
    // that takes this long has stopped answering, so from then on every
    // control request on the port fails at once, and a stop that has to send
    // a few more is not held up by each of them in turn.
    static constexpr std::uint32_t kControlTimeoutMs = 500;

    // One control request: input bytes in, up to outputBytes back. Returns
    // whether the driver call succeeded and, in *bytesReturned, how many
    // output bytes it reported. Safe to call from any thread.
    virtual bool Control(std::uint32_t code, const void* input, std::uint32_t inputBytes, void* output,
                         std::uint32_t outputBytes, std::uint32_t* bytesReturned) = 0;

    // Whether a control request went unanswered for kControlTimeoutMs.
    virtual bool ControlTimedOut() const = 0;

    // Queues a read of `bytes` into `buffer` on ring slot `slot`. Reads
    // complete in the order they were queued. A read that cannot be queued
    // is reported as failed by its WaitRead, so callers may ignore the
    // result.
    virtual bool QueueRead(int slot, void* buffer, std::uint32_t bytes) = 0;

    // Waits without a time-out for the read queued on `slot`; false when it
    // failed (or was cancelled), else the bytes it transferred.
    virtual bool WaitRead(int slot, std::uint32_t* bytesTransferred) = 0;

    // Fails every outstanding read at once and every read queued afterwards,
    // so that a reader blocked on a stalled camera returns. Safe to call from
    // any thread while another thread reads.
    virtual void CancelReads() = 0;

    // The waits of the sensor programming sequences.
    virtual void Delay(std::uint32_t milliseconds) = 0;
};

}  // namespace kv20x
