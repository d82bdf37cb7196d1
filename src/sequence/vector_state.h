// The inflater's vector code may return with the upper halves of the wide vector registers
// in use; until they are cleared, every SSE instruction of the thread (the exp and pow of the
// p-values among them) runs several times slower. Each call into it is followed by this.
#pragma once

namespace kestra {

inline void ClearWideVectorState() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool has_avx = __builtin_cpu_supports("avx");
  if (has_avx) __asm__ __volatile__("vzeroupper" ::: "memory");
#endif
}

}  // namespace kestra
