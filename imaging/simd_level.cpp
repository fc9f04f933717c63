#include "imaging/simd_level.h"

#include <cstring>

#include "imaging/pipeline_kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define KV20X_X86 1
#endif

namespace kv20x {

namespace {

constexpr const char* kNames[kSimdLevelCount] = {"plain", "sse2", "ssse3", "avx2", "avx512"};

#if KV20X_X86
// The register state the operating system saves and restores, from XGETBV.
std::uint64_t EnabledStateMask()
{
    std::uint32_t eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<std::uint64_t>(edx) << 32) | eax;
}
#endif

}  // namespace

SimdLevel DetectSimdLevel()
{
#if KV20X_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return SimdLevel::Plain;
    if (!(edx & (1u << 26)))
        return SimdLevel::Plain;
    SimdLevel level = SimdLevel::Sse2;
    if (!(ecx & (1u << 9)))
        return level;
    level = SimdLevel::Ssse3;

    const bool osSavesYmm = (ecx & (1u << 27)) && (ecx & (1u << 28)) && (EnabledStateMask() & 0x6) == 0x6;
    if (!osSavesYmm)
        return level;
    unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf < 7)
        return level;
    unsigned ebx7 = 0, ecx7 = 0, edx7 = 0, eax7 = 0;
    __cpuid_count(7, 0, eax7, ebx7, ecx7, edx7);
    if (!(ebx7 & (1u << 5)))
        return level;
    level = SimdLevel::Avx2;

    // AVX-512: foundation (EBX 16), byte and word (EBX 30), byte permutes
    // (ECX 1), and the operating system saving opmask and all 32 zmm.
    const bool avx512 = (ebx7 & (1u << 16)) && (ebx7 & (1u << 30)) && (ecx7 & (1u << 1));
    if (avx512 && (EnabledStateMask() & 0xE6) == 0xE6)
        level = SimdLevel::Avx512;
    return level;
#else
    return SimdLevel::Plain;
#endif
}

namespace {

const PipelineKernels* BuiltKernels(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Plain:
        return &kPlainKernels;
#if KV20X_X86_KERNELS
    case SimdLevel::Sse2:
        return &kSse2Kernels;
    case SimdLevel::Ssse3:
        return &kSsse3Kernels;
    case SimdLevel::Avx2:
        return &kAvx2Kernels;
    case SimdLevel::Avx512:
        return &kAvx512Kernels;
#endif
    default:
        return nullptr;
    }
}

SimdLevel ChooseBest()
{
    const SimdLevel detected = DetectSimdLevel();
    for (int i = static_cast<int>(detected); i > 0; --i)
        if (BuiltKernels(static_cast<SimdLevel>(i)))
            return static_cast<SimdLevel>(i);
    return SimdLevel::Plain;
}

}  // namespace

SimdLevel BestSimdLevel()
{
    static const SimdLevel best = ChooseBest();
    return best;
}

bool SimdLevelUsable(SimdLevel level) { return KernelsFor(level) != nullptr; }

const PipelineKernels* KernelsFor(SimdLevel level)
{
    if (static_cast<int>(level) > static_cast<int>(BestSimdLevel()))
        return nullptr;
    return BuiltKernels(level);
}

const PipelineKernels& UsableKernels(SimdLevel level)
{
    const PipelineKernels* kernels = KernelsFor(level);
    return kernels ? *kernels : *BuiltKernels(BestSimdLevel());
}

const char* SimdLevelName(SimdLevel level)
{
    const int i = static_cast<int>(level);
    return i >= 0 && i < kSimdLevelCount ? kNames[i] : "unknown";
}

bool ParseSimdLevel(const char* name, SimdLevel& level)
{
    for (int i = 0; i < kSimdLevelCount; ++i)
        if (name && std::strcmp(name, kNames[i]) == 0) {
            level = static_cast<SimdLevel>(i);
            return true;
        }
    return false;
}

}  // namespace kv20x
