#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/frame_read.h"
#include "device/win32_port.h"

namespace kv20x {
namespace {

// A scratch file read through the port's overlapped reads.
class ScratchFile {
public:
    explicit ScratchFile(const std::vector<std::uint8_t>& content)
    {
        char dir[MAX_PATH];
        ::GetTempPathA(MAX_PATH, dir);
        char name[MAX_PATH];
        ::GetTempFileNameA(dir, "kvp", 0, name);
        m_path = name;
        HANDLE h = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        ::CloseHandle(h);
    }
    ~ScratchFile() { ::DeleteFileA(m_path.c_str()); }
    const char* path() const { return m_path.c_str(); }

private:
    std::string m_path;
};

// What a failed open says: a device that is not there is "no camera"; one
// that is there but refuses this open (held without sharing, or closed to
// this process) never is. Files stand in for devices the test cannot make.
TEST(Win32Port, OpenTellsAnAbsentDeviceFromOneThatRefuses)
{
    const ScratchFile held(std::vector<std::uint8_t>(16));
    const HANDLE holder = ::CreateFileA(held.path(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    char folder[MAX_PATH];
    ::GetTempPathA(MAX_PATH, folder);
    const std::string missingFolder = std::string(folder) + "kv20x-no-such-folder\\device";
    const struct {
        const char* what;
        const char* path;
        DevicePort::OpenResult expected;
    } cases[] = {
        {"the camera's device with no driver", kDevicePath, DevicePort::OpenResult::Absent},
        {"a device name nothing serves", "\\\\.\\vx41k-9", DevicePort::OpenResult::Absent},
        {"a path through a folder that is not there", missingFolder.c_str(), DevicePort::OpenResult::Absent},
        {"a file another handle holds without sharing", held.path(), DevicePort::OpenResult::Refused},
        {"a folder, which cannot be opened as a device", folder, DevicePort::OpenResult::Refused},
    };
    for (const auto& c : cases) {
        const DWORD before = ::GetTickCount();
        EXPECT_EQ(CreateWin32DevicePort()->Open(c.path), c.expected) << c.what;
        EXPECT_LT(::GetTickCount() - before, 500u) << c.what << ": answered at once";
    }
    ::CloseHandle(holder);
    auto port = CreateWin32DevicePort();
    EXPECT_EQ(port->Open(held.path()), DevicePort::OpenResult::Opened) << "free again";
    EXPECT_EQ(port->IntegrityLevel(), DevicePort::kMediumIntegrity) << "an object without a label is medium";
}

TEST(Win32Port, OpenFailsOnAPathThatIsNotThere)
{
    auto port = CreateWin32DevicePort();
    EXPECT_EQ(port->Open("\\\\.\\vx41k-9"), DevicePort::OpenResult::Absent);
    std::uint32_t transferred = 7;
    std::uint8_t buffer[16];
    port->QueueRead(0, buffer, sizeof buffer);
    EXPECT_FALSE(port->WaitRead(0, &transferred));
    EXPECT_EQ(transferred, 0u);
}

TEST(Win32Port, OverlappedReadsCompleteIntoTheirSlots)
{
    std::vector<std::uint8_t> content(4096);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 7);
    ScratchFile file(content);
    auto port = CreateWin32DevicePort();
    ASSERT_EQ(port->Open(file.path()), DevicePort::OpenResult::Opened);
    std::vector<std::uint8_t> buffers[DevicePort::kReadSlots];
    for (int slot = 0; slot < DevicePort::kReadSlots; ++slot) {
        buffers[slot].assign(1024, 0);
        EXPECT_TRUE(port->QueueRead(slot, buffers[slot].data(), 1024));
    }
    for (int slot = 0; slot < DevicePort::kReadSlots; ++slot) {
        std::uint32_t transferred = 0;
        ASSERT_TRUE(port->WaitRead(slot, &transferred));
        EXPECT_EQ(transferred, 1024u);
        // Every read starts at offset 0 of the file.
        EXPECT_TRUE(std::equal(buffers[slot].begin(), buffers[slot].end(), content.begin()));
    }
}

TEST(Win32Port, CancellationFailsEveryLaterRead)
{
    ScratchFile file(std::vector<std::uint8_t>(64, 1));
    auto port = CreateWin32DevicePort();
    ASSERT_EQ(port->Open(file.path()), DevicePort::OpenResult::Opened);
    port->CancelReads();
    std::uint8_t buffer[64];
    EXPECT_FALSE(port->QueueRead(0, buffer, sizeof buffer));
    std::uint32_t transferred = 0;
    EXPECT_FALSE(port->WaitRead(0, &transferred));
}

TEST(Win32Port, ControlRequestOnSomethingThatIsNoCameraFails)
{
    ScratchFile file(std::vector<std::uint8_t>(8, 0));
    auto port = CreateWin32DevicePort();
    ASSERT_EQ(port->Open(file.path()), DevicePort::OpenResult::Opened);
    const ControlRequestBlock block = MakeControlRequestBlock(true, kRequestReadChipVersion, 0, 0);
    std::uint8_t reply[3] = {};
    std::uint32_t returned = 99;
    EXPECT_FALSE(port->Control(IOCTL_VENDOR_REQUEST, &block, sizeof block, reply, sizeof reply, &returned));
    EXPECT_EQ(returned, 0u);
}

}  // namespace
}  // namespace kv20x
