// Locking: m_cancelLock guards m_cancelled together with the issuing of reads,
// so that a read can never be queued after CancelReads has swept the slots.
// The slot records are touched only by the one reading thread; control
// requests use an OVERLAPPED of their own and may come from any thread.
// m_unanswered is an atomic flag: once set it stays set for the handle's life.

#include "device/win32_port.h"

#include <windows.h>

#include <atomic>
#include <new>

#include "base/handles.h"
#include "device/integrity_label.h"

namespace kv20x {

namespace {

// What a failed CreateFile says about the device: not there at all, or there
// and refusing this open (held by another handle with a driver that allows
// one, closed to this process, or failing its open), which is never "no
// camera".
DevicePort::OpenResult OpenFailure(DWORD error)
{
    constexpr DWORD kErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE, which the mingw headers lack
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return DevicePort::OpenResult::Absent;
    default:  // sharing violation, access denied, busy, ...
        return DevicePort::OpenResult::Refused;
    }
}

class Win32DevicePort final : public DevicePort {
public:
    ~Win32DevicePort() override = default;

    OpenResult Open(const char* path) override
    {
        m_device.reset(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!m_device)
            return OpenFailure(::GetLastError());
        for (Slot& slot : m_slots) {
            slot.event.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
            if (!slot.event) {
                m_device.reset();
                return OpenResult::Refused;
            }
        }
        IntegrityLabel label;
        if (ReadIntegrityLabel(m_device.get(), &label))
            m_integrity = label.level;
        return OpenResult::Opened;
    }

    std::uint32_t IntegrityLevel() const override { return m_integrity; }

    bool Control(std::uint32_t code, const void* input, std::uint32_t inputBytes, void* output,
                 std::uint32_t outputBytes, std::uint32_t* bytesReturned) override
    {
        *bytesReturned = 0;
        if (!m_device || m_unanswered)
            return false;
        UniqueHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!done)
            return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        DWORD returned = 0;
        BOOL ok = ::DeviceIoControl(m_device.get(), code, const_cast<void*>(input), inputBytes, output, outputBytes,
                                    &returned, &overlapped);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            if (::WaitForSingleObject(done.get(), kControlTimeoutMs) != WAIT_OBJECT_0) {
                // Withdrawn; the wait below only sees the cancellation through,
                // as the request's buffers must outlive it.
                m_unanswered = true;
                ::CancelIoEx(m_device.get(), &overlapped);
                ::GetOverlappedResult(m_device.get(), &overlapped, &returned, TRUE);
                return false;
            }
            ok = ::GetOverlappedResult(m_device.get(), &overlapped, &returned, FALSE);
        }
        *bytesReturned = returned;
        return ok != FALSE;
    }

    bool ControlTimedOut() const override { return m_unanswered; }

    bool QueueRead(int slotIndex, void* buffer, std::uint32_t bytes) override
    {
        Slot& slot = m_slots[slotIndex];
        AutoLock lock(m_cancelLock);
        slot.overlapped = OVERLAPPED{};
        slot.overlapped.hEvent = slot.event.get();
        slot.state = SlotState::Failed;
        if (m_cancelled || !m_device)
            return false;
        if (!::ReadFile(m_device.get(), buffer, bytes, nullptr, &slot.overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return false;
        slot.state = SlotState::Queued;
        return true;
    }

    bool WaitRead(int slotIndex, std::uint32_t* bytesTransferred) override
    {
        Slot& slot = m_slots[slotIndex];
        *bytesTransferred = 0;
        const SlotState state = slot.state;
        slot.state = SlotState::Idle;
        if (state != SlotState::Queued)
            return false;
        DWORD transferred = 0;
        const BOOL ok = ::GetOverlappedResult(m_device.get(), &slot.overlapped, &transferred, TRUE);
        *bytesTransferred = transferred;
        return ok != FALSE;
    }

    // Only the read slots' own requests: a control request that another
    // thread has in flight on the same handle (a setter's register write
    // during a stop) must complete.
    void CancelReads() override
    {
        AutoLock lock(m_cancelLock);
        m_cancelled = true;
        if (!m_device)
            return;
        for (Slot& slot : m_slots)
            ::CancelIoEx(m_device.get(), &slot.overlapped);
    }

    void Delay(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

private:
    enum class SlotState { Idle, Queued, Failed };
    struct Slot {
        OVERLAPPED overlapped{};
        UniqueHandle event;  // manual reset, as a pending overlapped read needs
        SlotState state = SlotState::Idle;
    };

    CritSec m_cancelLock;
    bool m_cancelled = false;
    std::atomic<bool> m_unanswered{false};
    std::uint32_t m_integrity = kMediumIntegrity;  // set by Open, on the opening thread
    Slot m_slots[kReadSlots];
    UniqueFileHandle m_device;  // declared last: closed before the slot events
};

}  // namespace

std::unique_ptr<DevicePort> CreateWin32DevicePort()
{
    return std::unique_ptr<DevicePort>(new (std::nothrow) Win32DevicePort);
}

}  // namespace kv20x
