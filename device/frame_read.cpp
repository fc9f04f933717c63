#include "device/frame_read.h"

#include <cstring>

namespace kv20x {

namespace {

constexpr unsigned kSlots = DevicePort::kReadSlots;

unsigned NextSlot(unsigned slot, unsigned steps = 1) { return (slot + steps) % kSlots; }

}  // namespace

// The camera ends every frame with an early completion: a short transfer of
// the remainder, or a zero-length one when the frame is a whole number of
// chunks. Reads complete in the order queued, so slot p always holds the
// oldest outstanding read.
int FrameRead(DeviceLink& link, std::uint8_t* destination)
{
    DevicePort& port = *link.port;
    const std::uint32_t chunk = link.chunkSize;
    if (chunk == 0 || chunk > DeviceLink::kReadBufferBytes)
        return kFrameReadFailed;
    const std::uint32_t readsPerFrame = link.frameSize / chunk + 1;
    const std::uint32_t remainder = link.frameSize % chunk;

    int result = kFrameReadFailed;
    bool resynchronised = false;
    unsigned p = 0;
    unsigned completed = 0;
    unsigned queued = kSlots;
    unsigned inFlight = 0;
    std::uint8_t* write = destination;

    for (unsigned slot = 0; slot < kSlots; ++slot)
        port.QueueRead(static_cast<int>(slot), link.readBuffers[slot], chunk);

    for (;;) {
        ++completed;
        inFlight = queued - completed;
        std::uint32_t transferred = 0;
        if (!port.WaitRead(static_cast<int>(p), &transferred)) {
            result = kFrameReadFailed;
            break;
        }
        // What the frame still has room for: a geometry of fewer reads than
        // ring slots would otherwise let whole chunks run past its end.
        const std::uint32_t room = link.frameSize - static_cast<std::uint32_t>(write - destination);
        if (completed == queued) {
            // The last read of the frame: it must carry exactly the remainder.
            const bool good = transferred == remainder && remainder <= room;
            if (good && remainder > 0)
                std::memcpy(write, link.readBuffers[p], remainder);
            return good ? kFrameReadComplete : kFrameReadRejected;
        }
        if (transferred == chunk && chunk > room) {
            result = kFrameReadRejected;
            break;
        }
        if (transferred == chunk) {
            std::memcpy(write, link.readBuffers[p], chunk);
            write += chunk;
            if (queued < readsPerFrame) {
                port.QueueRead(static_cast<int>(p), link.readBuffers[p], chunk);
                ++queued;
            }
            p = NextSlot(p);
            continue;
        }
        // An early completion: a frame ended here, and the reads behind it
        // belong to the next one.
        if (resynchronised) {
            result = kFrameReadRejected;
            break;
        }
        for (unsigned k = inFlight + 1; k < kSlots; ++k) {
            const unsigned slot = NextSlot(p, k);
            port.QueueRead(static_cast<int>(slot), link.readBuffers[slot], chunk);
        }
        port.QueueRead(static_cast<int>(p), link.readBuffers[p], chunk);
        write = destination;
        queued = kSlots;
        completed = 0;
        resynchronised = true;
        p = NextSlot(p);
    }

    // Drain: nothing may be pending when the caller gets its buffer back.
    for (unsigned k = 1; k <= inFlight; ++k) {
        std::uint32_t ignored = 0;
        port.WaitRead(static_cast<int>(NextSlot(p, k)), &ignored);
    }
    return result;
}

}  // namespace kv20x
