#pragma once
// A capture filter on a simulated camera, with clean stored settings, for
// the tests of the pin and the filter. Every test ends by checking that
// nothing is left: the filter's last release, no live object, no open port.

#include <gtest/gtest.h>

#include "filter/capture_filter.h"
#include "framework/unknown.h"
#include "imaging/frame_pipeline.h"
#include "pin/capture_pin.h"
#include "support/graph_helpers.h"
#include "support/test_camera_port.h"
#include "support/test_sink.h"

namespace kv20x::test {

inline void ClearStoredSettings()
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
}

inline long long StoredDword(const char* key, const char* name)
{
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return -1;
    return value;
}

// The defect list of a size as the camera's configuration memory holds it.
inline DefectTable CameraDefects(const simcam::SimulatedCamera& camera, SizeMode size)
{
    DefectTable table;
    const std::uint16_t count = camera.ReadConfigWord(static_cast<std::uint16_t>(0x24C6 + 4 * size));
    table.count = count < 100 ? count : 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const auto entry = static_cast<std::uint16_t>(0x2500 + 400 * size + 4 * i);
        table.entries[i] = {static_cast<std::int16_t>(camera.ReadConfigWord(entry)),
                            static_cast<std::int16_t>(camera.ReadConfigWord(static_cast<std::uint16_t>(entry + 2)))};
    }
    return table;
}

class NoHooks final : public FrameHooks {
public:
    void WriteExposure(std::uint16_t, std::uint16_t) override {}
    void ReleaseRaw() override {}
    void LockSettings() override {}
    void UnlockSettings() override {}
};

// The picture the pin must deliver for a frame the camera sent, with the
// given settings (auto exposure off, no one-shot white balance pending).
inline std::vector<std::uint8_t> ExpectedPicture(const simcam::SimulatedCamera& camera, const simcam::FrameInfo& frame,
                                                 SizeMode size, CameraSettings& settings)
{
    std::vector<std::uint8_t> raw(frame.width * frame.height);
    camera.RenderFrame(frame, raw.data());
    std::vector<std::uint8_t> picture(raw.size() * 3);
    FrameTables tables;
    BuildFrameTables(settings, tables);
    NoHooks hooks;
    RunFramePipeline(raw.data(), picture.data(), static_cast<std::int32_t>(frame.width),
                     static_cast<std::int32_t>(frame.height), settings, CameraDefects(camera, size), tables, hooks);
    return picture;
}

// A graph holding only the capture filter, whose pin is connected by hand
// to a sink written in the test; the graph supplies the event sink.
struct SinkGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;

    HRESULT Build(IBaseFilter* filter)
    {
        const HRESULT hr = CreateClocklessGraph(graph, control, events);
        return FAILED(hr) ? hr : graph->AddFilter(filter, L"Camera");
    }
    struct Event {
        long code;
        LONG_PTR param1, param2;
    };
    // Waits for an event of `code`; every event taken on the way is kept in
    // `seen`.
    bool HasEvent(long code, std::chrono::milliseconds timeout, LONG_PTR* param1 = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            long got = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (events->GetEvent(&got, &p1, &p2, 20) == S_OK) {
                seen.push_back({got, p1, p2});
                events->FreeEventParams(got, p1, p2);
                if (got == code) {
                    if (param1)
                        *param1 = p1;
                    return true;
                }
            }
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    bool Saw(long code) const
    {
        for (const Event& e : seen)
            if (e.code == code)
                return true;
        return false;
    }
    std::vector<Event> seen;

    void Release()
    {
        if (control)
            control->Stop();
        events.Reset();
        control.Reset();
        graph.Reset();
    }
};

class FilterFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearStoredSettings();
        camera = simcam::SimulatedCamera::Create();
        UseCamera(camera);
        UseProcessorCount(Processors());
        CreateFilter();
    }
    void TearDown() override
    {
        ReleaseEverything();
        EXPECT_EQ(LiveObjectCount(), 0);
        EXPECT_EQ(camera->OpenPorts(), 0) << "the camera was left open";
        UseCamera(nullptr);
        ClearStoredSettings();
    }
    virtual int Processors() const { return 2; }

    void CreateFilter()
    {
        HRESULT hr = S_OK;
        filter = static_cast<CKV20X*>(CKV20X::CreateInstance(nullptr, &hr));
        ASSERT_EQ(hr, S_OK);
        filter->NonDelegatingAddRef();
        pin = filter->Pin();
    }
    // Releases graphs and connections, then the filter; its last release
    // must be the test's.
    void ReleaseEverything()
    {
        grabberGraph.Release();
        sinkGraph.Release();
        if (pin && pin->IsConnected()) {
            static_cast<IPin*>(pin)->Disconnect();
            sink.Disconnect();
        }
        if (filter) {
            EXPECT_EQ(static_cast<IBaseFilter*>(filter)->Release(), 0u) << "a reference is left over";
            filter = nullptr;
            pin = nullptr;
        }
    }
    IBaseFilter* Filter() { return static_cast<IBaseFilter*>(filter); }
    IPin* Pin() { return static_cast<IPin*>(pin); }
    IKV20X* PinControl() { return static_cast<IKV20X*>(pin); }
    IKV20X* FilterControl() { return static_cast<IKV20X*>(filter); }

    void ConnectToGrabber()
    {
        ASSERT_EQ(grabberGraph.Build(Filter(), &collector), S_OK);
        ASSERT_EQ(grabberGraph.ConnectAll(Filter()), S_OK);
    }
    void ConnectToSink()
    {
        ASSERT_EQ(sinkGraph.Build(Filter()), S_OK);
        ASSERT_EQ(Pin()->Connect(&sink, nullptr), S_OK);
    }

    ComApartment com;
    SampleCollector collector;  // outlives the graphs that call it
    std::shared_ptr<simcam::SimulatedCamera> camera;
    CKV20X* filter = nullptr;
    CPushPinKV20X* pin = nullptr;
    GrabberGraph grabberGraph;
    SinkGraph sinkGraph;
    TestSink sink;
};

}  // namespace kv20x::test
