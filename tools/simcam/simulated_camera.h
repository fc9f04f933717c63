#pragma once
// The simulated camera of the tests: the camera model behind the module's
// device port, in the test process, with fault injection and a log of every
// request the module sends.
//
// Locking: m_mutex guards the model, the camera's configuration and hooks,
// the log, the frame records and the ports' read queues; m_changed is
// signalled whenever a read may be able to make progress (a control request,
// a cancel, a fault cleared).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "camera_model.h"
#include "device/device_port.h"

namespace simcam {

enum class LogKind { Open, Close, Control, Delay, Cancel };

struct LogEntry {
    LogKind kind;
    uint32_t code = 0;        // Control: driver control code
    uint8_t direction = 0;    // Control with a vendor request: its setup block
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint32_t milliseconds = 0;  // Delay
    bool ok = false;          // the driver call succeeded
    bool hung = false;        // Control: unanswered until the port withdrew it
    uint8_t status = 0;       // status byte of a vendor request that returns one
};

// A register write as the sensor saw it.
struct RegisterWrite {
    uint16_t reg;
    uint16_t value;
    bool operator==(const RegisterWrite&) const = default;
};

class SimulatedCamera : public std::enable_shared_from_this<SimulatedCamera> {
public:
    enum class Pacing {
        RealTime,   // frames follow the programmed frame time on the clock
        Immediate,  // time stands still until a reader waits for the next frame
    };

    static std::shared_ptr<SimulatedCamera> Create();
    ~SimulatedCamera();

    // A port for one device link; the camera outlives every port it made.
    std::unique_ptr<kv20x::DevicePort> CreatePort();

    // Configuration and faults.
    void SetPacing(Pacing pacing);
    void SetRealDelays(bool real);  // sleep through the programming waits
    void SetMissing(bool missing);  // the device cannot be opened
    // A driver that admits one handle at a time: an open while another port
    // is open is refused, as it is while a killed holder's handle lingers.
    void SetSingleHandle(bool single);
    // The integrity level the ports report for the device (medium unless set).
    void SetIntegrityLevel(uint32_t level);
    void SetChipVersion(uint16_t version);
    void SetFaults(uint32_t flags);  // FaultFlags
    void SetStreamControlFailMask(uint32_t mask);
    void SetFramePlan(const FramePlan& plan);
    void WriteConfigWord(uint16_t address, uint16_t word);
    // Called, under the camera's lock, each time a read fails in the camera
    // (not by cancellation): lets a test wait for exactly that moment.
    void OnReadFailure(std::function<void()> callback);
    // Called, under the camera's lock, each time a control request starts
    // waiting for an answer that does not come (kFaultHangControl).
    void OnControlHeld(std::function<void()> callback);
    // Called, outside the camera's lock, after each open with its outcome.
    void OnOpen(std::function<void(kv20x::DevicePort::OpenResult)> callback);
    // Called, outside the camera's lock, at each of the programming waits
    // (DevicePort::Delay): a test can hold a device start there.
    void OnDelay(std::function<void()> callback);

    // Inspection.
    std::vector<LogEntry> Log() const;
    std::vector<RegisterWrite> RegisterWrites() const;  // accepted vendor writes, in order
    void ClearLog();
    uint16_t Register(uint16_t reg) const;
    std::vector<FrameInfo> Frames() const;  // every frame that started on the wire
    uint32_t FramesDropped() const;
    int OpenPorts() const;
    bool Streaming() const;
    SensorParams Sensor() const;  // what the registers program
    uint16_t ReadConfigWord(uint16_t address) const;

    // The raw frame the camera sent for `frame`.
    void RenderFrame(const FrameInfo& frame, uint8_t* destination) const;

private:
    friend class SimulatedPort;
    SimulatedCamera();
    uint64_t NowUs() const;  // under m_mutex
    std::chrono::steady_clock::time_point m_epoch = std::chrono::steady_clock::now();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<uint8_t[]> m_scene;
    std::unique_ptr<CameraModel> m_model;
    Pacing m_pacing = Pacing::Immediate;
    bool m_realDelays = false;
    bool m_missing = false;
    bool m_singleHandle = false;
    uint32_t m_integrityLevel = kv20x::DevicePort::kMediumIntegrity;
    uint64_t m_virtualUs = 0;
    std::vector<LogEntry> m_log;
    std::vector<FrameInfo> m_frames;
    int m_openPorts = 0;
    std::function<void()> m_onReadFailure;
    std::function<void()> m_onControlHeld;
    std::function<void()> m_onDelay;
    std::function<void(kv20x::DevicePort::OpenResult)> m_onOpen;
};

}  // namespace simcam
