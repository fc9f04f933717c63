// FrameRead against a driver whose completions the input decides: sizes,
// failures, failed queueing, in any order and any frame geometry. Checked:
// no write outside the destination (AddressSanitizer: the destination is
// exactly one frame), every read queued has been waited for when FrameRead
// returns, no slot is queued twice, and the result is one of the three.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "device/device_link.h"
#include "device/frame_read.h"
#include "fuzz_input.h"

namespace {

using kv20x::DevicePort;

class ScriptedPort final : public DevicePort {
public:
    explicit ScriptedPort(kv20x::fuzz::Input& input) : m_input(input) {}
    OpenResult Open(const char*) override { return OpenResult::Opened; }
    bool Control(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t, std::uint32_t* returned) override
    {
        *returned = 0;
        return false;
    }
    bool ControlTimedOut() const override { return false; }
    bool QueueRead(int slot, void* buffer, std::uint32_t bytes) override
    {
        if (slot < 0 || slot >= kReadSlots || m_queued[slot])
            std::abort();  // a slot queued twice, or one that does not exist
        if (m_input.Byte() == 0xFF) {
            m_refused[slot] = true;  // its WaitRead reports the failure
            return false;
        }
        m_queued[slot] = true;
        m_buffers[slot] = static_cast<std::uint8_t*>(buffer);
        m_lengths[slot] = bytes;
        return true;
    }
    bool WaitRead(int slot, std::uint32_t* transferred) override
    {
        *transferred = 0;
        if (slot < 0 || slot >= kReadSlots)
            std::abort();
        if (m_refused[slot]) {
            m_refused[slot] = false;
            return false;
        }
        if (!m_queued[slot])
            return false;  // never queued: failed, as the port promises
        m_queued[slot] = false;
        const std::uint8_t choice = m_input.Byte();
        if (choice < 16)
            return false;  // the read failed
        // Whole, short or empty, never more than asked for.
        std::uint32_t bytes = m_lengths[slot];
        if (choice < 96)
            bytes = m_input.Below(m_lengths[slot] + 1);
        else if (choice < 112)
            bytes = 0;
        std::memset(m_buffers[slot], choice, bytes);
        *transferred = bytes;
        return true;
    }
    void CancelReads() override {}
    void Delay(std::uint32_t) override {}
    bool AnyQueued() const
    {
        for (bool queued : m_queued)
            if (queued)
                return true;
        return false;
    }

private:
    kv20x::fuzz::Input& m_input;
    bool m_queued[kReadSlots] = {};
    bool m_refused[kReadSlots] = {};
    std::uint8_t* m_buffers[kReadSlots] = {};
    std::uint32_t m_lengths[kReadSlots] = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kv20x::fuzz::Input input(data, size);
    auto port = std::make_unique<ScriptedPort>(input);
    ScriptedPort& scripted = *port;
    static auto link = std::make_unique<kv20x::DeviceLink>(nullptr);
    link->port = std::move(port);
    // Any geometry, small enough to run fast; chunk sizes up to the buffers'.
    link->chunkSize = input.Byte() == 0 ? input.Below(kv20x::DeviceLink::kReadBufferBytes + 2) : 1 + input.Below(512);
    link->frameSize = input.Below(8192);
    std::vector<std::uint8_t> destination(link->frameSize);
    // A vector of size 0 has no storage to hand out: give FrameRead a
    // pointer that AddressSanitizer still guards.
    std::unique_ptr<std::uint8_t[]> empty(new std::uint8_t[1]);
    const int result = kv20x::FrameRead(*link, destination.empty() ? empty.get() + 1 : destination.data());
    if (result != kv20x::kFrameReadComplete && result != kv20x::kFrameReadRejected &&
        result != kv20x::kFrameReadFailed)
        std::abort();
    if (scripted.AnyQueued())
        std::abort();  // a read still in flight: FrameRead must drain
    link->port.reset();
    return 0;
}
