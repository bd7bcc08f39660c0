// Standard descriptors that the process was started without.
#pragma once

namespace quorvi {

// Each standard descriptor that the process was started without is taken by the null device,
// opened the other way round: standard input for writing only, standard output and error for
// reading only. The next socket or file then cannot land on it and receive output meant for the
// user, and using it still fails, with EBADF, as while it was missing. The entry point calls
// this before anything else opens a descriptor.
void hold_missing_standard_streams();

// True when a read failed with `error` because its descriptor is not open for reading: a
// standard input the process was started without, held as above. A reader that serves requests
// until its input ends takes this for the end (there is nothing to serve); a reader that needs
// the whole text reports it as unreadable, like any failed read.
[[nodiscard]] bool missing_input(int error);

}  // namespace quorvi
