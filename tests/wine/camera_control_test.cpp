// IKV20X on the pin and through the filter, and the filter object itself.

#include "support/pin_fixture.h"

#include <algorithm>
#include <thread>

#include "device/device_link.h"
#include "settings/class_ids.h"

extern "C" int RunCClient(IUnknown* object);

namespace kv20x::test {
namespace {

class CameraControl : public FilterFixture {
protected:
    // The register writes since the last ClearLog, as (register, value).
    std::vector<simcam::RegisterWrite> Writes() const { return camera->RegisterWrites(); }
    void StreamUntilFrames(size_t count)
    {
        ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
        sink.WaitForSamples(count);
        ASSERT_GE(sink.ReceivedCount(), count);
    }
};

TEST_F(CameraControl, FilterAndPinHandOutDifferentInterfacesOnTheSameSettings)
{
    ComPtr<IKV20X> throughFilter, throughPin;
    ASSERT_EQ(Filter()->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(throughFilter.GetAddressOf())), S_OK);
    ASSERT_EQ(Pin()->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(throughPin.GetAddressOf())), S_OK);
    EXPECT_NE(throughFilter.Get(), throughPin.Get());
    ASSERT_EQ(throughFilter->SetGamma(180), S_OK);
    BYTE gamma = 0;
    EXPECT_EQ(throughPin->GetGamma(&gamma), S_OK);
    EXPECT_EQ(gamma, 180);
}

TEST_F(CameraControl, NullOutPointersAreRefusedAndNothingIsWritten)
{
    BOOL flag = 7;
    BYTE byte = 7;
    EXPECT_EQ(FilterControl()->GetWhiteBalance(&flag, &byte, nullptr, &byte), E_POINTER);
    EXPECT_EQ(PinControl()->GetWhiteBalance(&flag, &byte, nullptr, &byte), E_FAIL);
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(FilterControl()->GetVideoSize(nullptr), E_POINTER);
    EXPECT_EQ(PinControl()->GetVideoSize(nullptr), E_FAIL);
    EXPECT_EQ(FilterControl()->GetRowTime(nullptr), E_POINTER);
    EXPECT_EQ(PinControl()->GetRowTime(nullptr), E_FAIL);
    WORD word = 7;
    EXPECT_EQ(FilterControl()->GetExposure(&flag, &byte, &word, nullptr), E_POINTER);
    EXPECT_EQ(PinControl()->GetExposure(&flag, &byte, &word, nullptr), E_FAIL);
    EXPECT_EQ(word, 7);
}

TEST_F(CameraControl, VideoSizeChangesOnlyWhileUnconnectedAndRefusalsAreReported)
{
    EXPECT_EQ(FilterControl()->SetVideoSize(5), E_INVALIDARG);
    EXPECT_EQ(PinControl()->SetVideoSize(-1), E_INVALIDARG);
    EXPECT_EQ(PinControl()->SetVideoSize(3), E_INVALIDARG);
    EXPECT_EQ(PinControl()->SetVideoSize(1), S_OK);
    EXPECT_EQ(FilterControl()->SetVideoSize(2), S_OK);
    ConnectToSink();
    EXPECT_EQ(FilterControl()->SetVideoSize(0), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(PinControl()->SetVideoSize(7), VFW_E_ALREADY_CONNECTED) << "the connection is checked first";
    int size = -1;
    FilterControl()->GetVideoSize(&size);
    EXPECT_EQ(size, 2);
}

TEST_F(CameraControl, ExposureGoesToTheSensorOnlyWithAutoExposureOff)
{
    ConnectToSink();
    // Off while not streaming: only stored; the stream start writes it.
    ASSERT_EQ(PinControl()->SetExposure(FALSE, 90, 777, 33), S_OK);
    EXPECT_TRUE(Writes().empty());
    StreamUntilFrames(2);
    const auto start = Writes();
    ASSERT_GE(start.size(), 2u);
    EXPECT_TRUE(std::find(start.begin(), start.end(), simcam::RegisterWrite{9, 777}) != start.end());
    EXPECT_TRUE(std::find(start.begin(), start.end(), simcam::RegisterWrite{53, GainRegisterValue(33)}) !=
                start.end());

    camera->ClearLog();
    ASSERT_EQ(FilterControl()->SetExposure(FALSE, 90, 500, 41), S_OK);
    EXPECT_EQ(Writes(), (std::vector<simcam::RegisterWrite>{{9, 500}, {53, 0x160}}));

    camera->ClearLog();
    ASSERT_EQ(FilterControl()->SetExposure(TRUE, 90, 600, 10), S_OK);
    for (const auto& write : Writes())
        EXPECT_FALSE(write.reg == 9 && write.value == 600) << "with auto exposure on the step drives the sensor";
    sinkGraph.control->Stop();
}

TEST_F(CameraControl, SpeedAndMainsFrequencyAndTheRowTime)
{
    LONG rowTime = 0;
    PinControl()->GetRowTime(&rowTime);
    EXPECT_EQ(rowTime, 85);
    ASSERT_EQ(PinControl()->SetSpeed(1), S_OK);
    PinControl()->GetRowTime(&rowTime);
    EXPECT_EQ(rowTime, 85) << "with the camera closed only the field changes";
    ASSERT_EQ(PinControl()->SetPowerFrequency(FALSE), S_OK);
    PinControl()->GetRowTime(&rowTime);
    EXPECT_EQ(rowTime, 42);
    BOOL fifty = TRUE;
    PinControl()->GetPowerFrequency(&fifty);
    EXPECT_FALSE(fifty);

    ConnectToSink();
    StreamUntilFrames(1);
    camera->ClearLog();
    ASSERT_EQ(PinControl()->SetSpeed(0), S_OK);
    EXPECT_EQ(Writes(), (std::vector<simcam::RegisterWrite>{{10, 0x8001}, {5, 336}}));
    PinControl()->GetRowTime(&rowTime);
    EXPECT_EQ(rowTime, 85);
    sinkGraph.control->Stop();
}

TEST_F(CameraControl, ToneAndGainTablesFollowTheirSetters)
{
    ASSERT_EQ(PinControl()->SetContrast(0), S_OK);
    ASSERT_EQ(PinControl()->SetGamma(100), S_OK);
    ASSERT_EQ(PinControl()->SetWhiteBalance(FALSE, 64, 64, 64), S_OK);
    ASSERT_EQ(PinControl()->SetColorEnhancement(FALSE, 100), S_OK);
    ASSERT_EQ(PinControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    ConnectToGrabber();
    collector.KeepData(1);
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    grabberGraph.control->Stop();
    // Identity tables: the picture is the reconstruction, flipped as set.
    CameraSettings identity;
    identity.AutoExposure = 0;
    identity.Contrast = 0;
    identity.r = identity.g = identity.b = 64;
    identity.EnableSaturation = 0;
    EXPECT_TRUE(collector.Samples()[0].data == ExpectedPicture(*camera, camera->Frames()[0], 1, identity));
}

TEST_F(CameraControl, ParameterGroups)
{
    // A group never stored: the switch changes the selection only.
    ASSERT_EQ(PinControl()->SetGamma(150), S_OK);
    ASSERT_EQ(PinControl()->SelectParameterGroup(2), S_OK);
    BYTE group = 0, gamma = 0;
    PinControl()->GetParameterGroup(&group);
    PinControl()->GetGamma(&gamma);
    EXPECT_EQ(group, 2);
    EXPECT_EQ(gamma, 150);
    ASSERT_EQ(PinControl()->SaveSettings(), S_OK);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshowC", "Gamma"), 150);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "ParaTeam"), 2);

    // Back to A, whose key holds nothing either; then C again reloads it.
    ASSERT_EQ(PinControl()->SelectParameterGroup(0), S_OK);
    ASSERT_EQ(PinControl()->SetGamma(90), S_OK);
    ASSERT_EQ(PinControl()->SelectParameterGroup(2), S_OK);
    PinControl()->GetGamma(&gamma);
    EXPECT_EQ(gamma, 150);
    // The same group again does not reload.
    ASSERT_EQ(PinControl()->SetGamma(60), S_OK);
    ASSERT_EQ(PinControl()->SelectParameterGroup(2), S_OK);
    PinControl()->GetGamma(&gamma);
    EXPECT_EQ(gamma, 60);
}

TEST_F(CameraControl, AGroupBeyondDIsRefusedAndChangesNothing)
{
    ASSERT_EQ(FilterControl()->SelectParameterGroup(1), S_OK);
    ASSERT_EQ(FilterControl()->SetContrast(55), S_OK);
    for (BYTE refused : {4, 5, 255}) {
        EXPECT_EQ(FilterControl()->SelectParameterGroup(refused), E_INVALIDARG) << int(refused);
        EXPECT_EQ(PinControl()->SelectParameterGroup(refused), E_INVALIDARG) << int(refused);
    }
    BYTE group = 0, contrast = 0;
    FilterControl()->GetParameterGroup(&group);
    FilterControl()->GetContrast(&contrast);
    EXPECT_EQ(group, 1);
    EXPECT_EQ(contrast, 55) << "nothing was loaded";
    ReleaseEverything();
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "ParaTeam"), 1);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshowB", "Contrast"), 55);
    CreateFilter();
    FilterControl()->GetParameterGroup(&group);
    EXPECT_EQ(group, 1) << "the next session finds the same group";
}

// The mains frequency changes the exposure timing, which the device lock
// guards: it waits for a setter that holds the lock. Here the holder waits
// for an answer the camera never gives, so the mains setter can return only
// after the camera log shows that request withdrawn.
TEST_F(CameraControl, TheMainsFrequencyWaitsForTheDeviceLock)
{
    ASSERT_EQ(PinControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    ConnectToSink();
    StreamUntilFrames(1);
    UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    camera->OnControlHeld([&held] { ::SetEvent(held.get()); });
    camera->SetFaults(simcam::kFaultHangControl);
    std::thread holder([this] { PinControl()->SetExposure(FALSE, 100, 400, 20); });
    ASSERT_EQ(::WaitForSingleObject(held.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(PinControl()->SetPowerFrequency(FALSE), S_OK);
    const auto log = camera->Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const simcam::LogEntry& e) { return e.hung; }))
        << "the setter returned while the exposure write still held the lock";
    holder.join();
    camera->OnControlHeld(nullptr);
    camera->SetFaults(0);
    sinkGraph.control->Stop();
}

TEST_F(CameraControl, ASwitchWhileStreamingActsOnTheCameraAtOnce)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
    HKEY key = nullptr;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ORBILUX \\KV20X\\dshowB", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr);
    const DWORD values[][2] = {{0, 1}, {0, 0}, {0, 900}, {0, 41}};  // Speed 1, AutoExposure 0, ExposureTime, AnalogGain
    const char* names[] = {"Speed", "AutoExposure", "ExposureTime", "AnalogGain"};
    for (int i = 0; i < 4; ++i)
        ::RegSetValueExA(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i][1]), sizeof(DWORD));
    ::RegCloseKey(key);
    ConnectToSink();
    StreamUntilFrames(1);
    camera->ClearLog();
    ASSERT_EQ(PinControl()->SelectParameterGroup(1), S_OK);
    EXPECT_EQ(Writes(), (std::vector<simcam::RegisterWrite>{{10, 0x8000}, {5, 336}, {9, 900}, {53, 0x160}}));
    sinkGraph.control->Stop();
}

TEST_F(CameraControl, ReleasingTheFilterStoresTheSettingsInForce)
{
    ASSERT_EQ(FilterControl()->SetColorEnhancement(TRUE, 201), S_OK);
    ASSERT_EQ(FilterControl()->SetHorizontalMirror(FALSE), S_OK);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Saturation"), -1);
    ReleaseEverything();
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Saturation"), 201);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "HFlip"), 0);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Gain"), 20);
    CreateFilter();
}

TEST_F(CameraControl, TheFilterIsALiveSourceWithASetupPage)
{
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(Filter()->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(flags.GetAddressOf())), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), 2u);
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(Filter()->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(pages.GetAddressOf())),
              S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], kClsidSetupPage);
    ::CoTaskMemFree(list.pElems);

    ConnectToSink();
    FILTER_STATE state;
    EXPECT_EQ(Filter()->GetState(0, nullptr), E_POINTER);
    EXPECT_EQ(Filter()->GetState(0, &state), S_OK);
    ASSERT_EQ(Filter()->Pause(), S_OK);
    EXPECT_EQ(Filter()->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    ASSERT_EQ(Filter()->Run(0), S_OK);
    EXPECT_EQ(Filter()->GetState(0, &state), S_OK);
    ASSERT_EQ(Filter()->Stop(), S_OK);
    EXPECT_EQ(Filter()->GetState(0, &state), S_OK);
    CLSID clsid;
    Filter()->GetClassID(&clsid);
    EXPECT_EQ(clsid, kClsidCaptureFilter);
}

TEST_F(CameraControl, ACClientReachesEverySlotItNames)
{
    EXPECT_EQ(RunCClient(Filter()), 0);
    EXPECT_EQ(RunCClient(Pin()), 0);
}

}  // namespace
}  // namespace kv20x::test
