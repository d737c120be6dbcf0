// zbengine: the scheduling engine. Its application object is built right after the debug log and
// the run-item mutex (dovrane/EngineGlobals.h gives the order of the globals).
#include "dovrane/dovraneApp.h"

CdovraneApp theApp __attribute__((init_priority(105)));

int main(int argc, char** argv) {
    return zbw::RunApplication(argc, argv);
}
