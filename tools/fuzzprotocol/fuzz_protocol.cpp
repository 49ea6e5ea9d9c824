// libFuzzer target for the line reader of the forced-logout protocol (port 6010). The first
// byte of the input chooses the size of the pieces in which the network delivers the rest, so
// the same bytes arrive cut in many ways. The reader is compared with the rule it implements:
// a line is everything up to the next LF, without that LF and a CR directly before it; a line
// longer than 16384 bytes is an error, after which the reader gives nothing more. A crash, a
// sanitizer report or a difference (std::abort) is a bug.

#include "peer/forcedlogoutprotocol.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>

namespace P = ForcedLogoutProtocol;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The lines the rule takes out of the whole input, and whether it ends in the error.
QList<QByteArray> expectedLines(const QByteArray &bytes, bool *tooLong)
{
    QList<QByteArray> lines;
    *tooLong = false;
    qsizetype start = 0;
    while (true) {
        const qsizetype lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            // An unfinished line is already too long when even a CR that may still end it
            // cannot make it fit.
            const qsizetype rest = bytes.size() - start;
            *tooLong = rest > P::MaxLineBytes + 1
                || (rest == P::MaxLineBytes + 1 && !bytes.endsWith('\r'));
            return lines;
        }
        qsizetype length = lf - start;
        if (length > 0 && bytes.at(lf - 1) == '\r')
            --length;
        if (length > P::MaxLineBytes) {
            *tooLong = true;
            return lines;
        }
        lines.append(bytes.mid(start, length));
        start = lf + 1;
    }
}

bool sameLetters(const QByteArray &line, const QByteArray &message)
{
    if (line.size() != message.size())
        return false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        char c = line.at(i);
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != message.at(i))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // 0: everything at once; otherwise pieces of 1 to 255 bytes, or of 64 times that.
    const int choice = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype piece = choice == 0 ? bytes.size() + 1
        : (choice & 0x80) ? qsizetype(choice & 0x7f) * 64 + 1
                          : qsizetype(choice);

    P::LineReader reader;
    QList<QByteArray> lines;
    bool failed = false;
    for (qsizetype at = 0; at < bytes.size() && !failed; at += piece) {
        reader.append(bytes.mid(at, piece));
        while (true) {
            QByteArray line;
            const P::LineReader::Result result = reader.takeLine(&line);
            if (result == P::LineReader::Result::NeedMore)
                break;
            if (result == P::LineReader::Result::TooLong) {
                failed = true;
                // Spent: it never gives a line again, whatever comes.
                reader.append(QByteArrayLiteral("^ORSA_MAIN^LOGIN\r\n"));
                check(reader.takeLine(&line) == P::LineReader::Result::TooLong);
                break;
            }
            check(!line.contains('\n') && line.size() <= P::MaxLineBytes);
            lines.append(line);
        }
        check(reader.pendingBytes() <= P::MaxLineBytes + 1);
    }

    bool tooLong = false;
    const QList<QByteArray> expected = expectedLines(bytes, &tooLong);
    check(failed == tooLong);
    check(lines == expected);

    for (const QByteArray &line : lines) {
        for (const QByteArray &message : {P::greeting(), P::request(), P::acknowledgement()})
            check(P::matches(line, message) == sameLetters(line, message));
        check(P::normalized(line).size() == line.size());
    }
    return 0;
}
