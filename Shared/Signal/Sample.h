#pragma once
// The sample type of the analysis network. Blocks travel as (pointer to the first Sample, int length)
// and are valid only during the call that passes them.

namespace Signal {

typedef float Sample;

} // namespace Signal
