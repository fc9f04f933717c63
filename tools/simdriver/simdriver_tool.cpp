// Installs, removes and steers the simulated camera driver.
//   kv20xsim install <kv20xsim.sys>   copy into the drivers folder, create and start the service
//   kv20xsim remove                   stop and delete the service, remove the file
//   kv20xsim fault [--stall-from N] [--fail-read N] [--vanish] [--hang-controls] [--clear]
//                                     inject faults into the running camera (N: frames from the stream start)
//   kv20xsim stats                    what the camera has been asked: handles that sent requests, requests, reads

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera_model_c.h"
#include "simdriver_ioctl.h"

namespace {

constexpr unsigned kFaultVanished = 1u << 2;  // the model's fault flag for a camera that has gone
constexpr unsigned kFaultHangControl = 1u << 4;  // and for one that no longer answers control requests

std::string DriverPath()
{
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, MAX_PATH);
    return std::string(system) + "\\drivers\\" SIMDRIVER_FILE_NAME;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "kv20xsim: %s (error %lu)\n", what, ::GetLastError());
    return 1;
}

int Install(const char* source)
{
    const std::string target = DriverPath();
    if (!::CopyFileA(source, target.c_str(), FALSE))
        return Fail("cannot copy the driver into the drivers folder");
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return Fail("cannot open the service manager");
    SC_HANDLE service = ::CreateServiceA(manager, SIMDRIVER_SERVICE_NAME, "Simulated camera driver (vx41k-0)",
                                         SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                         SERVICE_ERROR_NORMAL, target.c_str(), nullptr, nullptr, nullptr, nullptr,
                                         nullptr);
    if (!service && ::GetLastError() == ERROR_SERVICE_EXISTS)
        service = ::OpenServiceA(manager, SIMDRIVER_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service) {
        ::CloseServiceHandle(manager);
        return Fail("cannot create the driver service");
    }
    const bool started = ::StartServiceA(service, 0, nullptr) || ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    if (!started)
        return Fail("cannot start the driver service");
    std::printf("kv20xsim: simulated camera running on \\\\.\\vx41k-0\n");
    return 0;
}

int Remove()
{
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return Fail("cannot open the service manager");
    SC_HANDLE service = ::OpenServiceA(manager, SIMDRIVER_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service) {
        // The stop completes asynchronously: wait until the device is gone,
        // so that nothing started next can still open it.
        SERVICE_STATUS status{};
        if (::ControlService(service, SERVICE_CONTROL_STOP, &status))
            for (int poll = 0; poll < 100 && status.dwCurrentState != SERVICE_STOPPED; ++poll) {
                ::Sleep(50);
                ::QueryServiceStatus(service, &status);
            }
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    ::DeleteFileA(DriverPath().c_str());
    std::printf("kv20xsim: removed\n");
    return 0;
}

int Fault(int argc, char** argv)
{
    SimcamFaultConfig config{};
    config.dropChunk = config.extraChunk = config.wrongFinal = config.failRead = config.stallFrom = -1;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--stall-from" && hasValue)
            config.stallFrom = std::atoi(argv[++i]);
        else if (option == "--fail-read" && hasValue)
            config.failRead = std::atoi(argv[++i]);
        else if (option == "--vanish")
            config.faults |= kFaultVanished;
        else if (option == "--hang-controls")
            config.faults |= kFaultHangControl;
        else if (option != "--clear") {
            std::fprintf(stderr, "kv20xsim: unknown fault option %s\n", option.c_str());
            return 2;
        }
    }
    HANDLE device = ::CreateFileA("\\\\.\\vx41k-0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Fail("the simulated camera is not running");
    DWORD returned = 0;
    const BOOL ok =
        ::DeviceIoControl(device, IOCTL_SIMCAM_CONFIGURE, &config, sizeof config, nullptr, 0, &returned, nullptr);
    ::CloseHandle(device);
    if (!ok)
        return Fail("the simulated camera refused the faults");
    return 0;
}

int Stats()
{
    HANDLE device = ::CreateFileA("\\\\.\\vx41k-0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Fail("the simulated camera is not running");
    SimcamStats stats{};
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(device, IOCTL_SIMCAM_STATS, nullptr, 0, &stats, sizeof stats, &returned, nullptr);
    ::CloseHandle(device);
    if (!ok || returned != sizeof stats)
        return Fail("the simulated camera gave no statistics");
    std::printf("requesting-opens %u controls %u reads %u\n", stats.requestingOpens, stats.controls, stats.reads);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "install") == 0)
        return Install(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "remove") == 0)
        return Remove();
    if (argc >= 2 && std::strcmp(argv[1], "fault") == 0)
        return Fault(argc - 2, argv + 2);
    if (argc == 2 && std::strcmp(argv[1], "stats") == 0)
        return Stats();
    std::fprintf(stderr, "usage: kv20xsim install <kv20xsim.sys> | remove | fault [--stall-from N] [--fail-read N] "
                         "[--vanish] [--hang-controls] [--clear] | stats\n");
    return 2;
}
