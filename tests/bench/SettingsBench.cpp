// Bench of the engine settings file at scale: saving and loading 10,000 ITEM elements through
// CLaunchArray.
#include <cstdio>

#include "common/XMLFile.h"
#include "dovrane/LaunchArray.h"
#include "platform/host/PathMap.h"
#include "tests/bench/BenchReport.h"
#include "tests/support/TestRoot.h"

namespace {

const int kItems = 10000;

CLaunchItem Item(int n) {
    CLaunchItem item;
    item.m_strProfile.Format(u"C:\\Profiles\\Profile %05d.zbp", n);
    item.m_strDescription.Format(u"Nightly copy %d", n);
    item.m_strCategory = u"Unfiled";
    item.m_schedule.nEveryDay = 1;
    item.m_schedule.dtStart = COleDateTime(2024, 3, 1, 0, 0, 0);
    item.m_nRunMissed = 1;
    item.m_nOnErrorRerun = 5;
    item.m_nEnabled = 1;
    return item;
}

}  // namespace

int main() {
    CTestRoot root;
    root.UseTimeZone("UTC");
    const CString path = zbw::ToWindowsPath(root.Path("ZBEngine.xml"));
    CLaunchArray items;
    for (int n = 0; n < kItems; ++n) items.Add(Item(n));

    zbbench::PrintHeading("Engine settings file (10,000 ITEM elements)");
    CXMLFile file;
    CMarkup& xml = file.GetMarkup();
    xml.SetDocument(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
    xml.AddElement(u"SETTINGS");
    xml.IntoElement();
    CString error;
    double start = zbbench::MonotonicSeconds();
    double cpuStart = zbbench::CpuSeconds();
    const int saved = items.Save(file, path, error);
    zbbench::PrintFigure("save of 10,000 items", (zbbench::MonotonicSeconds() - start) * 1000, "ms",
                         "< 200 ms");
    zbbench::PrintFigure("  of which on the CPU", (zbbench::CpuSeconds() - cpuStart) * 1000, "ms",
                         "(informative)");

    CLaunchArray loaded;
    CXMLFile other;
    start = zbbench::MonotonicSeconds();
    cpuStart = zbbench::CpuSeconds();
    const int read = loaded.Load(path, other, error);
    zbbench::PrintFigure("load of 10,000 items", (zbbench::MonotonicSeconds() - start) * 1000, "ms",
                         "< 200 ms");
    zbbench::PrintFigure("  of which on the CPU", (zbbench::CpuSeconds() - cpuStart) * 1000, "ms",
                         "(informative)");
    if (saved != CLaunchArray::SAVE_OK || read != CLaunchArray::LOAD_OK || loaded.GetSize() != kItems) {
        std::fprintf(stderr, "the settings file did not round-trip\n");
        return 1;
    }
    return 0;
}
