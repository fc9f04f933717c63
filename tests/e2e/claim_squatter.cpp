// A process that cannot open the camera and makes the camera claim's object
// first, holding it until it is killed: labelled low, as a low-integrity
// process's object is, or with an access list that shuts everyone else out.
// Prints "holding" once it holds it.
//   claim_squatter low|closed

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 || (std::strcmp(argv[1], "low") != 0 && std::strcmp(argv[1], "closed") != 0)) {
        std::fprintf(stderr, "usage: claim_squatter low|closed\n");
        return 2;
    }
    const wchar_t* security =
        std::strcmp(argv[1], "low") == 0 ? L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)" : L"D:(D;;GA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(security, SDDL_REVISION_1, &descriptor, nullptr))
        return 1;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    // The name every instance of the module gives the claim of "\\.\vx41k-0".
    HANDLE claim = ::CreateMutexW(&attributes, TRUE, L"Global\\KV20X camera __._vx41k-0");
    if (!claim || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "claim_squatter: the object could not be made first\n");
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}
