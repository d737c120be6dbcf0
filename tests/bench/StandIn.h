// The stand-in (tools/zbsync) registered as the synchronisation program, where the engine looks
// for it, for the benches that let the engine run profiles. Main thread of a bench program, in
// its own emulation root (the value lands in that root's machine registry); false when the value
// could not be written.
#pragma once

namespace zbbench {

bool RegisterStandIn();

}  // namespace zbbench
