// The row kernels for processors with SSE2 (every x64 processor; the floor
// of the 32-bit module's vector forms). Built with -msse2 only.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <cstring>

#include "imaging/pipeline_kernels.h"

namespace kv20x {
namespace {

#include "imaging/vector_kernels.h"
#include "imaging/vector_sse2.h"

}  // namespace

const PipelineKernels kSse2Kernels = KernelsOf<Sse2Ops>(SimdLevel::Sse2);

}  // namespace kv20x
