#include "tests/bench/StandIn.h"

#include "common/RegUtils.h"
#include "dovrane/model/SyncProgramKey.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace zbbench {

bool RegisterStandIn() {
    return WriteRegStringLM(kSyncProgramKey, u"path", zbw::ToWindowsPath(BinDir() + "/zbsync") + u".exe");
}

}  // namespace zbbench
