// How segments are found: merged runs of special residues, or a scanning window.
#pragma once

namespace kestra {

enum class DetectionMode { kRuns, kWindow };

}  // namespace kestra
