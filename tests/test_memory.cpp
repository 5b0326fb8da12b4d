// After app::prepareHeap a large start's blocks lie in memory marked for large pages.
#include "app/memory.h"
#include <QtTest>
#include <fstream>

class MemoryTest : public QObject {
    Q_OBJECT
private slots:
    void blocksLieInMarkedMemory()
    {
        if (!QFileInfo::exists("/sys/kernel/mm/transparent_hugepage"))
            QSKIP("this kernel has no large pages to mark");
        app::prepareHeap();
        for (const size_t size : {size_t(4) << 20, size_t(24) << 20}) {  // a list's rows, its text
            const auto block = std::make_unique<char[]>(size);
            const auto at = quintptr(block.get() + size - 1);  // its start may lie below the mark
            std::ifstream smaps("/proc/self/smaps");
            std::string mapping;
            bool inside = false;
            for (std::string line; std::getline(smaps, line); mapping += inside ? line + '\n' : "") {
                unsigned long from = 0, to = 0;
                if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) inside = from <= at && at < to;
            }
            if (mapping.find("[heap]") == std::string::npos) QSKIP("a sanitizer's allocator has memory of its own");
            QVERIFY2(mapping.find(" hg") != std::string::npos, mapping.c_str());  // "VmFlags: ... hg"
        }
    }
};

QTEST_GUILESS_MAIN(MemoryTest)
#include "test_memory.moc"
