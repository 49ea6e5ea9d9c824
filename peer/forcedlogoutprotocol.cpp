#include "forcedlogoutprotocol.h"

namespace ForcedLogoutProtocol {

QByteArray greeting()
{
    return QByteArrayLiteral("^ORSA_MAIN^");
}

QByteArray request()
{
    return QByteArrayLiteral("^ORSA_MAIN^LOGIN");
}

QByteArray acknowledgement()
{
    return QByteArrayLiteral("^ORSA_MAIN^REQ_OK");
}

QByteArray encodeLine(const QByteArray &text)
{
    QByteArray line = text;
    line.append("\r\n", 2);
    return line;
}

QByteArray normalized(const QByteArray &line)
{
    // Only ASCII letters: bytes of double-byte characters must not change their meaning, and
    // QByteArray::toUpper would follow the C locale anyway.
    QByteArray result = line;
    for (char &c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

bool matches(const QByteArray &receivedLine, const QByteArray &message)
{
    return normalized(receivedLine) == message;
}

void LineReader::append(const QByteArray &bytes)
{
    if (!m_failed)
        m_buffer.append(bytes);
}

LineReader::Result LineReader::takeLine(QByteArray *line)
{
    if (m_failed)
        return Result::TooLong;
    const qsizetype lf = m_buffer.indexOf('\n');
    if (lf < 0) {
        // Decide as early as the bytes allow: a CR at the very end may still belong to the
        // line end, any other byte beyond the limit cannot.
        const qsizetype size = m_buffer.size();
        if (size > MaxLineBytes + 1 || (size == MaxLineBytes + 1 && !m_buffer.endsWith('\r'))) {
            m_failed = true;
            m_buffer.clear();
            return Result::TooLong;
        }
        return Result::NeedMore;
    }
    qsizetype length = lf;
    if (length > 0 && m_buffer.at(length - 1) == '\r')
        --length;
    if (length > MaxLineBytes) {
        m_failed = true;
        m_buffer.clear();
        return Result::TooLong;
    }
    if (line)
        *line = m_buffer.left(length);
    m_buffer.remove(0, lf + 1);
    return Result::Line;
}

} // namespace ForcedLogoutProtocol
