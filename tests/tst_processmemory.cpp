// Memory the shell has freed goes back to the system when it asks: the start-up frees more
// than it keeps, and the shell stays open all day.

#include "platform/processmemory.h"

#include <QFile>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Resident pages of this process, in kB; -1 where /proc is not there.
qint64 residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4 : -1;
}

} // namespace

class tst_ProcessMemory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freedMemoryLeavesTheProcess();
};

void tst_ProcessMemory::freedMemoryLeavesTheProcess()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer keeps freed memory in quarantine on purpose");
#endif
    if (residentKb() < 0)
        QSKIP("no /proc/self/statm here");
    // 16 MB in blocks too small to be mapped one by one, all freed except the last one, which
    // keeps the freed ones below the top of the heap, where the allocator does not give them
    // back by itself.
    constexpr int Blocks = 4096;
    constexpr size_t BlockSize = 4000;
    std::vector<char *> blocks;
    blocks.reserve(Blocks);
    for (int i = 0; i < Blocks; ++i) {
        blocks.push_back(static_cast<char *>(std::malloc(BlockSize)));
        std::memset(blocks.back(), i & 0xFF, BlockSize);
    }
    for (int i = 0; i < Blocks - 1; ++i)
        std::free(blocks[size_t(i)]);
    const qint64 before = residentKb();

    ProcessMemory::releaseFreedMemory();
    const qint64 after = residentKb();
    std::free(blocks.back());
    QVERIFY2(before - after > 8 * 1024,
             qPrintable(QStringLiteral("resident %1 kB before, %2 kB after").arg(before).arg(after)));
}

QTEST_GUILESS_MAIN(tst_ProcessMemory)
#include "tst_processmemory.moc"
