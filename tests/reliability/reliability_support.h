#pragma once
// What the reliability programs share: the run length (CI or long), process
// figures, a sink that checks every sample without keeping any, and a hang
// watchdog that turns a hang into a failure with a note of where each
// thread is.
//
// Threads: the checking sink is called on the pin's worker; its counters are
// atomics. The hang watchdog runs on a thread of its own and reads the
// breadcrumbs, which each test thread writes as atomics.

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/graph_parts.h"

namespace kv20x::test {

// The long mode for manual runs: KV20X_RELIABILITY=long. Test programs only;
// the module reads no environment.
inline bool LongMode()
{
    const char* mode = std::getenv("KV20X_RELIABILITY");
    return mode && std::strcmp(mode, "long") == 0;
}

struct ProcessFigures {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// The process's handles from the system's handle table: Wine 8 answers
// GetProcessHandleCount with 0 but lists every handle here.
inline DWORD CountHandlesInSystemTable()
{
    struct Entry {
        PVOID object;
        ULONG_PTR process;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace, type;
        ULONG attributes, reserved;
    };
    struct Table {
        ULONG_PTR count, reserved;
        Entry entries[1];
    };
    using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<ULONG_PTR> buffer(1 << 16);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed)) == kLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    DWORD mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].process == ::GetCurrentProcessId())
            ++mine;
    return mine;
}

inline ProcessFigures Measure()
{
    ProcessFigures figures;
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &figures.handles) || figures.handles == 0)
        figures.handles = CountHandlesInSystemTable();
    // Private bytes: PrivateUsage where the system fills it, else the commit
    // charge (the same figure; Wine 8 fills only the latter).
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof memory))
        figures.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return figures;
}

// Handle counts taken at the end of every cycle: the highest of the ten
// cycles after the warm-up against the highest of the last ten, so that a
// handle that is being let go of at one instant does not read as growth,
// while a handle lost per cycle shows as many.
class HandleTrend {
public:
    static constexpr int kWarmUp = 10;
    static constexpr int kWindow = 10;
    void Note(int cycle, int cycles, DWORD handles)
    {
        if (cycle >= kWarmUp && cycle < kWarmUp + kWindow && handles > early)
            early = handles;
        if (cycle >= cycles - kWindow && handles > late)
            late = handles;
    }
    long Growth() const { return static_cast<long>(late) - static_cast<long>(early); }
    DWORD early = 0;
    DWORD late = 0;
};

// Takes every sample and checks it: the picture's size, times that follow
// on from the previous sample, a sync point. Keeps nothing.
class CheckingSink final : public tools::StackInputPin {
public:
    CheckingSink() : StackInputPin(L"In") {}
    void Expect(long bytes)
    {
        m_bytes = bytes;
        NewRun();
    }
    // Every run's first sample starts at 0 again. Between runs only.
    void NewRun() { m_lastStop = -1; }
    // Pictures of width x height are checked for the test chart, upright;
    // 0 x 0 checks none. Between runs only.
    void CheckUpright(int width, int height)
    {
        m_width = width;
        m_height = height;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        const bool first = m_lastStop < 0;
        bool bad = sample->GetActualDataLength() != m_bytes || !timed || stop <= start ||
                   (first ? start != 0 : start != m_lastStop) || sample->IsSyncPoint() != S_OK;
        BYTE* picture = nullptr;
        if (!bad && m_width > 0 && SUCCEEDED(sample->GetPointer(&picture)))
            bad = !ChartUpright(picture);
        if (bad)
            ++faults;
        m_lastStop = stop;
        ++received;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        ++endOfStream;
        return S_OK;
    }
    // Waits for `count` samples in all, up to `timeoutMs`.
    bool WaitFor(long count, DWORD timeoutMs)
    {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        while (received < count) {
            if (::GetTickCount64() > deadline)
                return false;
            ::Sleep(1);
        }
        return true;
    }
    std::atomic<long> received{0};
    std::atomic<long> faults{0};
    std::atomic<long> endOfStream{0};
    std::atomic<long> upright{0};  // pictures whose marker stood apart from the ground

private:
    // The one colour of a box given in thousandths of the upright picture
    // (the sample's rows are bottom-up), or -1 when its pixels differ.
    long BoxColour(const BYTE* picture, int u0, int v0, int u1, int v1) const
    {
        long colour = -1;
        for (int v = v0 * m_height / 1000; v < v1 * m_height / 1000; v += 3) {
            const BYTE* row = picture + static_cast<size_t>(m_height - 1 - v) * m_width * 3;
            for (int u = u0 * m_width / 1000; u < u1 * m_width / 1000; u += 3) {
                const long pixel = row[u * 3] | row[u * 3 + 1] << 8 | row[u * 3 + 2] << 16;
                if (colour >= 0 && pixel != colour)
                    return -1;
                colour = pixel;
            }
        }
        return colour;
    }
    // The chart: a uniform grey ground, with a uniform white marker at the
    // top left. Every setting maps one raw colour to one picture colour, so
    // the ground looks the same at the top right and the bottom left, and a
    // flipped, mirrored, torn or garbled picture breaks that. The marker
    // tells upright from upside down where the settings leave white and grey
    // apart.
    bool ChartUpright(const BYTE* picture)
    {
        const long marker = BoxColour(picture, 45, 60, 115, 150);
        const long topRight = BoxColour(picture, 885, 60, 955, 150);
        const long bottomLeft = BoxColour(picture, 45, 910, 115, 980);
        if (marker < 0 || topRight < 0 || topRight != bottomLeft)
            return false;
        if (marker != topRight)
            ++upright;
        return true;
    }

    int m_width = 0, m_height = 0;
    long m_bytes = 0;
    REFERENCE_TIME m_lastStop = -1;  // worker only; -1: the run's first sample is next
};

// Breadcrumbs: what each test thread is doing, for the hang report.
struct Breadcrumb {
    std::atomic<const char*> what{"idle"};
    std::atomic<long> steps{0};
};

// Fails the program when `progress` stops moving for `limitMs`: prints the
// breadcrumbs and, for every thread of the process, the module and offset it
// is stopped at, then ends the process with a failure.
class HangWatchdog {
public:
    HangWatchdog(const std::atomic<long>& progress, std::vector<Breadcrumb>& crumbs, DWORD limitMs)
        : m_progress(progress), m_crumbs(crumbs), m_limitMs(limitMs), m_thread([this] { Watch(); })
    {
    }
    ~HangWatchdog()
    {
        m_done = true;
        m_thread.join();
    }

private:
    void Watch()
    {
        long last = m_progress;
        ULONGLONG since = ::GetTickCount64();
        while (!m_done) {
            ::Sleep(100);
            if (m_progress != last) {
                last = m_progress;
                since = ::GetTickCount64();
            } else if (::GetTickCount64() - since > m_limitMs) {
                Report();
                std::fflush(stdout);
                ::ExitProcess(3);
            }
        }
    }
    void Report()
    {
        std::printf("HANG: no progress for %lu ms\n", static_cast<unsigned long>(m_limitMs));
        for (size_t i = 0; i < m_crumbs.size(); ++i)
            std::printf("  test thread %zu: in %s after %ld steps\n", i, m_crumbs[i].what.load(),
                        m_crumbs[i].steps.load());
        HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{sizeof entry};
        for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID != ::GetCurrentProcessId() || entry.th32ThreadID == ::GetCurrentThreadId())
                continue;
            HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
            if (!thread)
                continue;
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            ::SuspendThread(thread);
            if (::GetThreadContext(thread, &context)) {
#ifdef _WIN64
                const DWORD64 ip = context.Rip;
#else
                const DWORD64 ip = context.Eip;
#endif
                HMODULE module = nullptr;
                char name[MAX_PATH] = "?";
                if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                         reinterpret_cast<LPCSTR>(ip), &module))
                    ::GetModuleFileNameA(module, name, MAX_PATH);
                std::printf("  thread %lu waits in %s+0x%llx\n", entry.th32ThreadID, name,
                            static_cast<unsigned long long>(ip - reinterpret_cast<DWORD64>(module)));
            }
            ::ResumeThread(thread);
            ::CloseHandle(thread);
        }
        ::CloseHandle(snapshot);
    }

    const std::atomic<long>& m_progress;
    std::vector<Breadcrumb>& m_crumbs;
    DWORD m_limitMs;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace kv20x::test
