#include "download/YencKernel.h"

#include <cstring>
#include <vector>

namespace zev {

#if defined(__x86_64__) || defined(__i386__)
TYencKernelResult YencDecodeSsse3(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);
TYencKernelResult YencDecodeAvx2(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);
TYencKernelResult YencDecodeAvx512(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);
#endif

namespace {

std::vector<TYencKernel> DetectKernels() {
  std::vector<TYencKernel> kernels{{"bytewise", YencDecodeBytewise}, {"scalar", YencDecodeScalar}};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3")) kernels.push_back({"ssse3", YencDecodeSsse3});
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
    kernels.push_back({"avx2", YencDecodeAvx2});
  // The compiler's check covers the OS side too: it reports AVX-512 only when the OS
  // saves the registers on a thread switch.
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2") &&
      __builtin_cpu_supports("popcnt"))
    kernels.push_back({"avx512", YencDecodeAvx512});
#endif
  return kernels;
}

const std::vector<TYencKernel>& Kernels() {
  static const std::vector<TYencKernel> kernels = DetectKernels();
  return kernels;
}

}  // namespace

std::span<const TYencKernel> YencKernels() { return Kernels(); }

const TYencKernel& BestYencKernel() { return Kernels().back(); }

const TYencKernel* FindYencKernel(const char* name) {
  for (const TYencKernel& kernel : Kernels())
    if (std::strcmp(kernel.name, name) == 0) return &kernel;
  return nullptr;
}

}  // namespace zev
