// Support for the fuzz targets: the table of targets by name; fakes nothing.
#include "tests/fuzz/FuzzTargets.h"

const FUZZTARGET kFuzzTargets[] = {
    {"xml_reader", &FuzzXmlReader},       {"section_store", &FuzzSectionStore},
    {"quoted_string", &FuzzQuotedString}, {"folder_list", &FuzzFolderList},
    {"client_filter", &FuzzClientFilter}, {"url_utf", &FuzzUrlAndUtf},
    {"csc_frame", &FuzzCscFrame},         {"shared_memory", &FuzzSharedMemory},
    {"command_block", &FuzzCommandBlock}, {"status_blocks", &FuzzStatusBlocks},
    {"hive_text", &FuzzHiveText},         {"http_request", &FuzzHttpRequest},
};
const size_t kFuzzTargetCount = sizeof kFuzzTargets / sizeof kFuzzTargets[0];
