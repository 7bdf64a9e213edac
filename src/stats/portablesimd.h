#pragma once

// The one place that knows compiler dialects for the vector code: which instruction sets the
// compiler can target per function, and how the processor is asked what it runs. Everything
// else uses standard C++ (<bit>) and the vendor intrinsics headers.

#if defined(__x86_64__) || defined(_M_X64)
#define GLIMMEROX_X86_64 1
#endif

#if defined(GLIMMEROX_X86_64) && (defined(__GNUC__) || defined(__clang__))
// GCC and Clang compile one function for an instruction set the rest of the program does not
// assume; MSVC compiles any intrinsic without being asked.
#define GLIMMEROX_TARGET(isa) __attribute__((target(isa)))
#else
#define GLIMMEROX_TARGET(isa)
#endif

namespace portablesimd {

// Whether the processor runs AVX2 / AVX-512BW (and the system saves their registers). Where the
// compiler offers no way to ask, the answer is no and SSE2, which every x86-64 has, is used.
inline bool cpuHasAvx2()
{
#if defined(GLIMMEROX_X86_64) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

inline bool cpuHasAvx512bw()
{
#if defined(GLIMMEROX_X86_64) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

} // namespace portablesimd
