#pragma once
#include <QByteArray>

// The line protocol on port 6010 by which a login on one workstation asks the shell on another
// to end its login. Lines are text in the workstation's code page; a line is written with CR LF
// and read up to LF, so a peer that ends its lines with LF alone is understood too.
namespace ForcedLogoutProtocol {

// A longer line is an error for the reader; the CR and LF that end it are not counted.
constexpr int MaxLineBytes = 16384;

// Sent by the listening side first: a shell of this system is listening here.
QByteArray greeting();
// Sent by the connecting side after the greeting: end your login, the same employee is logging
// in here.
QByteArray request();
// Sent by the listening side after its child programs are closed and its logout is recorded.
QByteArray acknowledgement();

// The bytes on the wire for one line: the text followed by CR LF.
QByteArray encodeLine(const QByteArray &text);

// ASCII letters in upper case, every other byte unchanged: received lines are compared this way,
// so the comparison ignores case.
QByteArray normalized(const QByteArray &line);
// A received line (its line end already removed) equals one of the stored messages above.
bool matches(const QByteArray &receivedLine, const QByteArray &message);

// Splits the received bytes into lines. Bytes come in whatever pieces the network delivers;
// a line is everything up to the next LF, with that LF and a CR directly before it removed.
class LineReader
{
public:
    enum class Result {
        NeedMore,  // no complete line yet
        Line,      // one line taken
        TooLong,   // the line exceeds MaxLineBytes; the reader is spent
    };

    void append(const QByteArray &bytes);
    Result takeLine(QByteArray *line);
    // Bytes received but not yet part of a complete line.
    qsizetype pendingBytes() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    bool m_failed = false;
};

} // namespace ForcedLogoutProtocol
