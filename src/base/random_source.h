// Where random sequences come from: shuffles of the binary sequence (-S) or nucleotides drawn
// with the frequencies (-B).
#pragma once

namespace kestra {

enum class RandomSource { kNone, kShuffle, kGenerate };

}  // namespace kestra
