// What the setup program's test needs from inside Windows, one command per
// run (each Wine process start costs seconds):
//
//   setup_probe hold NAME [--module FILE] [--file FILE] [--mutex NAME]...
//       holds each as an application or a second setup would: a module
//       loaded (it can be renamed, not deleted), a file open for reading
//       only (it can be neither), a named mutex owned; prints "held" and
//       keeps them until `setup_probe release NAME` (at most ten minutes).
//   setup_probe release NAME
//       lets that holder go.
//   setup_probe wait-free NAME
//       waits until no process owns the named mutex.
//   setup_probe run COMMAND LINE...
//       runs the command line and waits for it.
//   setup_probe restricted COMMAND LINE...
//       runs the command line as a standard user would: the Administrators
//       group only for denying, every privilege but traversal dropped.
//   setup_probe invariant
//       in both registry views: every InprocServer32 of the camera's classes
//       names a file that exists, a device or filter entry only with its
//       class, and the uninstall entry exists exactly when a module is
//       registered. Prints each break and fails if there is one.
//   setup_probe quiet-uninstall
//       runs the uninstall entry's QuietUninstallString as it stands, as
//       deployment tools do.
//   setup_probe dialog COMMAND LINE...
//       runs the command line, waits for the first dialog it shows, prints
//       the dialog's texts (UTF-8) and presses its default button.
// The commands that run a program print its exit code last, as "exit: N":
// Wine hands a Linux parent only its low 8 bits, and setups answer 1603 or
// 3010.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRunLimitMs = 120000;  // a setup that has not ended by then hangs
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from mingw's headers

void Print(const std::wstring& text)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                          nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

std::wstring Wide(const char* text)
{
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars > 0 ? chars - 1 : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), chars);
    return wide;
}

// The rest of this program's command line, from argument `first` on, as one
// command line.
std::wstring CommandLineFrom(int argc, char** argv, int first)
{
    std::wstring line;
    for (int i = first; i < argc; ++i) {
        const std::wstring argument = Wide(argv[i]);
        if (!line.empty())
            line += L' ';
        if (argument.find(L' ') == std::wstring::npos || argument.rfind(L"_?=", 0) == 0)
            line += argument;  // the uninstaller's "_?=" takes no quotes
        else
            line += L'"' + argument + L'"';
    }
    return line;
}

DWORD WaitForExit(HANDLE process)
{
    if (::WaitForSingleObject(process, kRunLimitMs) != WAIT_OBJECT_0) {
        Print(L"probe: the command did not end\n");
        ::TerminateProcess(process, 1);
        return 1;
    }
    DWORD code = 1;
    ::GetExitCodeProcess(process, &code);
    Print(L"exit: " + std::to_wstring(code) + L"\n");
    return code;
}

int RunAndWait(std::wstring line);

// The event a holder waits for.
std::wstring ReleaseEvent(const char* name)
{
    return L"KV20X-setup-test-release-" + Wide(name);
}

int Hold(int argc, char** argv)
{
    const HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, ReleaseEvent(argv[2]).c_str());
    if (!release)
        return 1;
    std::vector<HMODULE> modules;
    std::vector<HANDLE> handles;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::wstring what = Wide(argv[i + 1]);
        bool held = false;
        if (std::strcmp(argv[i], "--module") == 0) {
            const HMODULE module = ::LoadLibraryW(what.c_str());
            held = module != nullptr;
            modules.push_back(module);
        } else if (std::strcmp(argv[i], "--file") == 0) {
            const HANDLE file = ::CreateFileW(what.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                              nullptr);
            held = file != INVALID_HANDLE_VALUE;
            handles.push_back(file);
        } else if (std::strcmp(argv[i], "--mutex") == 0) {
            const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, what.c_str());
            held = mutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
            handles.push_back(mutex);
        }
        if (!held) {
            Print(L"probe: cannot hold " + what + L" (error " + std::to_wstring(::GetLastError()) + L")\n");
            return 1;
        }
    }
    Print(L"held\n");
    constexpr DWORD kHoldLimitMs = 600000;  // a test that never lets go leaves no process behind for long
    ::WaitForSingleObject(release, kHoldLimitMs);
    for (HANDLE handle : handles)
        ::CloseHandle(handle);
    for (HMODULE module : modules)
        ::FreeLibrary(module);
    ::CloseHandle(release);
    return 0;
}

int Release(const char* name)
{
    const HANDLE release = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ReleaseEvent(name).c_str());
    if (!release)
        return 1;
    ::SetEvent(release);
    ::CloseHandle(release);
    return 0;
}

int WaitFree(const char* name)
{
    const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, Wide(name).c_str());
    if (!mutex)
        return 0;  // nobody has it
    const DWORD waited = ::WaitForSingleObject(mutex, kRunLimitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? 1 : 0;
}

int Restricted(int argc, char** argv)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
        return 1;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    ::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators);
    SID_AND_ATTRIBUTES disabled{administrators, 0};
    HANDLE standard = nullptr;
    const BOOL made = ::CreateRestrictedToken(token, DISABLE_MAX_PRIVILEGE, 1, &disabled, 0, nullptr, 0, nullptr,
                                              &standard);
    ::FreeSid(administrators);
    ::CloseHandle(token);
    if (!made) {
        Print(L"probe: no restricted token (error " + std::to_wstring(::GetLastError()) + L")\n");
        return 1;
    }
    std::wstring line = CommandLineFrom(argc, argv, 2);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessAsUserW(standard, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                nullptr, &startup, &process);
    const DWORD error = ::GetLastError();
    ::CloseHandle(standard);
    if (!started) {
        Print(L"probe: cannot start it as a standard user (error " + std::to_wstring(error) + L")\n");
        if (error != kElevationRequired)
            return 1;
        Print(L"exit: " + std::to_wstring(error) + L"\n");  // what Windows answers with UAC on
        return static_cast<int>(error);
    }
    const DWORD code = WaitForExit(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// --- invariant

constexpr const wchar_t* kClasses[] = {
    L"{99D56D64-7A37-4F84-BF61-98445E175985}",  // the filter
    L"{CFBE4593-1111-455B-ABD7-A2A17FA00CC8}",  // the size page
    L"{87869342-3548-4FDC-BA44-A0A4841CDF01}",  // the setup page
};
constexpr wchar_t kDeviceEntry[] =
    L"Software\\Classes\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\Quorl T5R 3.1M Camera";
constexpr wchar_t kFilterEntry[] =
    L"Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
    L"{99D56D64-7A37-4F84-BF61-98445E175985}";
constexpr wchar_t kUninstallEntry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KV20X";

bool KeyThere(REGSAM view, const std::wstring& path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

// A string value of a key in a view (its default value for a null name), or
// false when it is not there.
bool StringValue(REGSAM view, const std::wstring& path, const wchar_t* name, std::wstring& value)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    wchar_t data[1024] = {};
    DWORD bytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG error = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    ::RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ)
        return false;
    value = data;
    return true;
}

int Invariant()
{
    int breaks = 0;
    const auto broken = [&](const std::wstring& what) {
        Print(L"invariant: " + what + L"\n");
        ++breaks;
    };
    bool registered = false;
    for (const auto& [view, name] : {std::pair{KEY_WOW64_64KEY, L"64-bit view"}, {KEY_WOW64_32KEY, L"32-bit view"}}) {
        bool filterThere = false;
        for (const wchar_t* id : kClasses) {
            const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + id;
            std::wstring server;
            if (StringValue(view, classKey + L"\\InprocServer32", nullptr, server)) {
                // Paths as the setup wrote them name the folder of their own
                // bitness: no redirection for a 64-bit process.
                if (::GetFileAttributesW(server.c_str()) == INVALID_FILE_ATTRIBUTES)
                    broken(std::wstring(name) + L": " + id + L" names " + server + L", which is not there");
                if (id == kClasses[0])
                    filterThere = true;
            } else if (KeyThere(view, classKey)) {
                broken(std::wstring(name) + L": " + id + L" is there without a module");
            }
        }
        if (KeyThere(view, kDeviceEntry) && !filterThere)
            broken(std::wstring(name) + L": the device entry is there without the filter's class");
        if (KeyThere(view, kFilterEntry) && !filterThere)
            broken(std::wstring(name) + L": the filter entry is there without the filter's class");
        registered = registered || filterThere;
    }
    const bool entry = KeyThere(KEY_WOW64_64KEY, kUninstallEntry);
    if (entry != registered)
        broken(entry ? L"the uninstall entry is there, but no module is registered"
                     : L"a module is registered, but there is no uninstall entry");
    if (breaks == 0)
        Print(L"invariant: holds\n");
    return breaks == 0 ? 0 : 1;
}

int RunAndWait(std::wstring line)
{
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Print(L"probe: cannot start " + line + L"\n");
        return 1;
    }
    const DWORD code = WaitForExit(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int QuietUninstall()
{
    std::wstring line;
    if (!StringValue(KEY_WOW64_64KEY, kUninstallEntry, L"QuietUninstallString", line)) {
        Print(L"probe: no QuietUninstallString\n");
        return 1;
    }
    return RunAndWait(line);
}

// --- dialog

struct DialogSearch {
    DWORD process;
    HWND dialog;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (owner != search.process || std::wcscmp(name, L"#32770") != 0 || !::IsWindowVisible(window))
        return TRUE;
    search.dialog = window;
    return FALSE;
}

BOOL CALLBACK PrintText(HWND window, LPARAM)
{
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::_wcsicmp(name, L"Static") != 0)
        return TRUE;
    wchar_t text[1024] = {};
    if (::GetWindowTextW(window, text, 1024) > 0)
        Print(std::wstring(text) + L"\n");
    return TRUE;
}

int Dialog(int argc, char** argv)
{
    std::wstring line = CommandLineFrom(argc, argv, 2);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    DialogSearch search{process.dwProcessId, nullptr};
    // Looked for every 0.1 s until it shows; the process ending first, or
    // nothing shown within the limit, means none.
    const ULONGLONG start = ::GetTickCount64();
    while (!search.dialog && ::GetTickCount64() - start < kRunLimitMs &&
           ::WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT)
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.dialog) {
        ::EnumChildWindows(search.dialog, PrintText, 0);
        ::PostMessageW(search.dialog, WM_COMMAND, IDOK, 0);
    } else {
        Print(L"probe: no dialog\n");
    }
    const DWORD code = WaitForExit(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "hold" && argc > 2)
        return Hold(argc, argv);
    if (command == "release" && argc > 2)
        return Release(argv[2]);
    if (command == "wait-free" && argc > 2)
        return WaitFree(argv[2]);
    if (command == "run" && argc > 2)
        return RunAndWait(CommandLineFrom(argc, argv, 2));
    if (command == "restricted" && argc > 2)
        return Restricted(argc, argv);
    if (command == "invariant")
        return Invariant();
    if (command == "quiet-uninstall")
        return QuietUninstall();
    if (command == "dialog" && argc > 2)
        return Dialog(argc, argv);
    std::fputs("usage: setup_probe hold|release|wait-free|run|restricted|invariant|quiet-uninstall|dialog ...\n", stderr);
    return 2;
}
