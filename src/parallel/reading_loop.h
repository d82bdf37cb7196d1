// A loop for a reader whose iterations run as pieces of a job on a pipeline's threads: the
// blocks of a block-compressed input inflated on every thread.
#pragma once

#include <cstdint>

#include "parallel/pipeline.h"
#include "sequence/parallel_loop.h"

namespace kestra {

// The iterations run as pieces of the job *job (the job that reads when the loop runs).
ParallelLoop ReadingLoop(Pipeline* pipeline, const uint64_t* job);

}  // namespace kestra
