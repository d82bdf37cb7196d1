// How significant segments are masked in the FASTA copy: -F, -L.
#pragma once

namespace kestra {

enum class MaskStyle { kNone, kN, kLowerCase };

}  // namespace kestra
