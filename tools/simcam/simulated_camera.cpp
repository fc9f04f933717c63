#include "simulated_camera.h"

#include <cstring>
#include <thread>

namespace simcam {

class SimulatedPort final : public kv20x::DevicePort {
public:
    explicit SimulatedPort(std::shared_ptr<SimulatedCamera> camera) : m_camera(std::move(camera)) {}

    ~SimulatedPort() override
    {
        std::lock_guard lock(m_camera->m_mutex);
        if (m_open) {
            m_camera->m_log.push_back({LogKind::Close});
            --m_camera->m_openPorts;
        }
    }

    OpenResult Open(const char*) override
    {
        OpenResult result = OpenResult::Opened;
        std::function<void(OpenResult)> onOpen;
        {
            std::lock_guard lock(m_camera->m_mutex);
            if (m_camera->m_missing)
                result = OpenResult::Absent;
            else if (m_open || (m_camera->m_singleHandle && m_camera->m_openPorts > 0))
                result = OpenResult::Refused;
            LogEntry entry{LogKind::Open};
            entry.ok = result == OpenResult::Opened;
            m_camera->m_log.push_back(entry);
            if (entry.ok) {
                m_open = true;
                ++m_camera->m_openPorts;
            }
            onOpen = m_camera->m_onOpen;
        }
        if (onOpen)
            onOpen(result);
        return result;
    }

    std::uint32_t IntegrityLevel() const override
    {
        std::lock_guard lock(m_camera->m_mutex);
        return m_camera->m_integrityLevel;
    }

    bool Control(std::uint32_t code, const void* input, std::uint32_t inputBytes, void* output,
                 std::uint32_t outputBytes, std::uint32_t* bytesReturned) override
    {
        std::unique_lock lock(m_camera->m_mutex);
        *bytesReturned = 0;
        LogEntry entry{LogKind::Control};
        entry.code = code;
        const auto* in = static_cast<const uint8_t*>(input);
        if (code == kIoctlVendorRequest && inputBytes == 10) {
            entry.direction = in[0];
            entry.request = in[4];
            entry.value = static_cast<uint16_t>(in[6] | in[7] << 8);
            entry.index = static_cast<uint16_t>(in[8] | in[9] << 8);
        }
        if (m_unanswered) {
            m_camera->m_log.push_back(entry);  // fails at once, as the Win32 port's do
            return false;
        }
        // A camera that does not answer: the request waits, as the driver
        // would hold it, until the port's time limit withdraws it (or the
        // fault is cleared, when it is answered late).
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
        const auto hanging = [this] { return (m_camera->m_model->faults & kFaultHangControl) != 0; };
        if (hanging() && m_camera->m_onControlHeld)
            m_camera->m_onControlHeld();
        while (hanging() && m_camera->m_changed.wait_until(lock, limit) != std::cv_status::timeout) {
        }
        if (hanging()) {
            m_unanswered = true;
            entry.hung = true;
            m_camera->m_log.push_back(entry);
            return false;
        }
        uint8_t reply[3] = {0, 0, 0};
        uint32_t returned = 0;
        entry.ok = m_open && outputBytes <= sizeof reply &&
                   ModelControl(m_camera->m_model.get(), code, in, inputBytes, reply, outputBytes, &returned,
                                m_camera->NowUs());
        if (entry.ok && returned > 0) {
            std::memcpy(output, reply, returned);
            *bytesReturned = returned;
            entry.status = reply[returned - 1];
        }
        m_camera->m_log.push_back(entry);
        m_camera->m_changed.notify_all();
        return entry.ok;
    }

    bool QueueRead(int slot, void* buffer, std::uint32_t bytes) override
    {
        std::lock_guard lock(m_camera->m_mutex);
        Slot& s = m_slots[slot];
        s = Slot{};
        if (m_cancelled || !m_open) {
            s.state = SlotState::Failed;
            return false;
        }
        s.state = SlotState::Queued;
        s.buffer = static_cast<uint8_t*>(buffer);
        s.length = bytes;
        m_order[(m_first + m_count) % kReadSlots] = slot;
        ++m_count;
        return true;
    }

    bool WaitRead(int slot, std::uint32_t* bytesTransferred) override
    {
        std::unique_lock lock(m_camera->m_mutex);
        *bytesTransferred = 0;
        while (m_slots[slot].state == SlotState::Queued)
            CompleteOldest(lock);
        const Slot done = m_slots[slot];
        m_slots[slot] = Slot{};
        *bytesTransferred = done.transferred;
        return done.state == SlotState::Done;
    }

    bool ControlTimedOut() const override
    {
        std::lock_guard lock(m_camera->m_mutex);
        return m_unanswered;
    }

    void CancelReads() override
    {
        std::lock_guard lock(m_camera->m_mutex);
        m_cancelled = true;
        m_camera->m_log.push_back({LogKind::Cancel});
        m_camera->m_changed.notify_all();
    }

    void Delay(std::uint32_t milliseconds) override
    {
        bool sleep;
        std::function<void()> gate;
        {
            std::lock_guard lock(m_camera->m_mutex);
            LogEntry entry{LogKind::Delay};
            entry.milliseconds = milliseconds;
            m_camera->m_log.push_back(entry);
            sleep = m_camera->m_realDelays;
            gate = m_camera->m_onDelay;
        }
        if (gate)
            gate();
        if (sleep)
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

private:
    enum class SlotState { Idle, Queued, Done, Failed };
    struct Slot {
        SlotState state = SlotState::Idle;
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        uint32_t transferred = 0;
    };

    // Completes the oldest queued read, waiting for the camera as needed.
    void CompleteOldest(std::unique_lock<std::mutex>& lock)
    {
        SimulatedCamera& camera = *m_camera;
        Slot& oldest = m_slots[m_order[m_first]];
        for (;;) {
            if (m_cancelled) {
                oldest.state = SlotState::Failed;
                break;
            }
            CameraModel* model = camera.m_model.get();
            const uint32_t started = model->framesStarted;
            const ReadOutcome outcome = ModelRead(model, oldest.buffer, oldest.length, camera.NowUs());
            if (model->framesStarted != started)
                camera.m_frames.push_back(model->frame);
            if (outcome.status == ReadStatus::Done) {
                oldest.state = SlotState::Done;
                oldest.transferred = outcome.bytes;
                break;
            }
            if (outcome.status == ReadStatus::Failed) {
                oldest.state = SlotState::Failed;
                if (camera.m_onReadFailure)
                    camera.m_onReadFailure();
                break;
            }
            if (outcome.status == ReadStatus::NotYet && camera.m_pacing == SimulatedCamera::Pacing::Immediate) {
                camera.m_virtualUs = outcome.readyAtUs;
                continue;
            }
            if (outcome.status == ReadStatus::NotYet) {
                const auto deadline = camera.m_epoch + std::chrono::microseconds(outcome.readyAtUs);
                camera.m_changed.wait_until(lock, deadline);
            } else {
                camera.m_changed.wait(lock);
            }
        }
        m_first = (m_first + 1) % kReadSlots;
        --m_count;
    }

    std::shared_ptr<SimulatedCamera> m_camera;
    bool m_open = false;
    bool m_cancelled = false;
    bool m_unanswered = false;  // a control request went unanswered: every later one fails
    Slot m_slots[kReadSlots];
    int m_order[kReadSlots] = {};  // queued slots, oldest first, as a ring
    int m_first = 0;
    int m_count = 0;
};

SimulatedCamera::SimulatedCamera()
    : m_scene(new uint8_t[kSceneBytes]), m_model(std::make_unique<CameraModel>())
{
    ModelInit(m_model.get(), m_scene.get());
}

SimulatedCamera::~SimulatedCamera() = default;

std::shared_ptr<SimulatedCamera> SimulatedCamera::Create()
{
    return std::shared_ptr<SimulatedCamera>(new SimulatedCamera);
}

std::unique_ptr<kv20x::DevicePort> SimulatedCamera::CreatePort()
{
    return std::make_unique<SimulatedPort>(shared_from_this());
}

uint64_t SimulatedCamera::NowUs() const
{
    if (m_pacing == Pacing::Immediate)
        return m_virtualUs;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_epoch).count());
}

void SimulatedCamera::SetPacing(Pacing pacing)
{
    std::lock_guard lock(m_mutex);
    if (pacing == Pacing::Immediate && m_pacing == Pacing::RealTime)
        m_virtualUs = NowUs();
    m_pacing = pacing;
    m_changed.notify_all();
}

void SimulatedCamera::SetRealDelays(bool real)
{
    std::lock_guard lock(m_mutex);
    m_realDelays = real;
}

void SimulatedCamera::SetMissing(bool missing)
{
    std::lock_guard lock(m_mutex);
    m_missing = missing;
}

void SimulatedCamera::SetSingleHandle(bool single)
{
    std::lock_guard lock(m_mutex);
    m_singleHandle = single;
}

void SimulatedCamera::SetIntegrityLevel(uint32_t level)
{
    std::lock_guard lock(m_mutex);
    m_integrityLevel = level;
}

void SimulatedCamera::OnOpen(std::function<void(kv20x::DevicePort::OpenResult)> callback)
{
    std::lock_guard lock(m_mutex);
    m_onOpen = std::move(callback);
}

void SimulatedCamera::SetChipVersion(uint16_t version)
{
    std::lock_guard lock(m_mutex);
    m_model->chipVersion = version;
}

void SimulatedCamera::SetFaults(uint32_t flags)
{
    std::lock_guard lock(m_mutex);
    m_model->faults = flags;
    m_changed.notify_all();
}

void SimulatedCamera::SetStreamControlFailMask(uint32_t mask)
{
    std::lock_guard lock(m_mutex);
    m_model->streamControlFailMask = mask;
}

void SimulatedCamera::SetFramePlan(const FramePlan& plan)
{
    std::lock_guard lock(m_mutex);
    m_model->plan = plan;
    m_changed.notify_all();
}

void SimulatedCamera::WriteConfigWord(uint16_t address, uint16_t word)
{
    std::lock_guard lock(m_mutex);
    ModelWriteConfigWord(m_model.get(), address, word);
    m_model->sceneWidth = 0;  // hot pixels follow the defect list
}

void SimulatedCamera::OnReadFailure(std::function<void()> callback)
{
    std::lock_guard lock(m_mutex);
    m_onReadFailure = std::move(callback);
}

void SimulatedCamera::OnControlHeld(std::function<void()> callback)
{
    std::lock_guard lock(m_mutex);
    m_onControlHeld = std::move(callback);
}

void SimulatedCamera::OnDelay(std::function<void()> callback)
{
    std::lock_guard lock(m_mutex);
    m_onDelay = std::move(callback);
}

std::vector<LogEntry> SimulatedCamera::Log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::vector<RegisterWrite> SimulatedCamera::RegisterWrites() const
{
    std::lock_guard lock(m_mutex);
    std::vector<RegisterWrite> writes;
    for (const LogEntry& entry : m_log)
        if (entry.kind == LogKind::Control && entry.code == kIoctlVendorRequest && entry.request == 0x0B &&
            entry.ok && entry.status == kStatusOk)
            writes.push_back({entry.index, entry.value});
    return writes;
}

void SimulatedCamera::ClearLog()
{
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_frames.clear();
}

uint16_t SimulatedCamera::Register(uint16_t reg) const
{
    std::lock_guard lock(m_mutex);
    return reg < 256 ? m_model->registers[reg] : 0;
}

std::vector<FrameInfo> SimulatedCamera::Frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

uint32_t SimulatedCamera::FramesDropped() const
{
    std::lock_guard lock(m_mutex);
    return m_model->framesDropped;
}

int SimulatedCamera::OpenPorts() const
{
    std::lock_guard lock(m_mutex);
    return m_openPorts;
}

bool SimulatedCamera::Streaming() const
{
    std::lock_guard lock(m_mutex);
    return m_model->streaming;
}

SensorParams SimulatedCamera::Sensor() const
{
    std::lock_guard lock(m_mutex);
    return ModelSensorParams(m_model.get());
}

uint16_t SimulatedCamera::ReadConfigWord(uint16_t address) const
{
    std::lock_guard lock(m_mutex);
    return ModelReadConfigWord(m_model.get(), address);
}

void SimulatedCamera::RenderFrame(const FrameInfo& frame, uint8_t* destination) const
{
    const uint32_t bytes = frame.width * frame.height;
    std::unique_ptr<uint8_t[]> scene(new uint8_t[bytes]);
    uint8_t lut[256];
    {
        std::lock_guard lock(m_mutex);
        BuildScene(m_model.get(), scene.get(), frame.width, frame.height);
    }
    BuildResponse(frame.exposureRows, frame.gainRegister, lut);
    FillFrameBytes(scene.get(), lut, frame.width, frame.height, frame.number, 0, destination, bytes);
}

}  // namespace simcam
