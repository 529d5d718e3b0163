#pragma once

namespace rpt::fb {

// Makes the embedded engine usable by this process before the client library first
// runs. Safe to call often; only the first call does anything.
void prepareClientEnvironment();

} // namespace rpt::fb
