#include "platform/cp949.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

const char CodecName[] = "windows-949";

// One converter per call: ICU converters keep state and an error flag between calls.
QStringEncoder makeEncoder()
{
    return QStringEncoder(CodecName, QStringConverter::Flag::Stateless);
}

QStringDecoder makeDecoder()
{
    return QStringDecoder(CodecName, QStringConverter::Flag::Stateless);
}

} // namespace

bool Cp949::available()
{
    static const bool valid = makeEncoder().isValid() && makeDecoder().isValid();
    return valid;
}

QByteArray Cp949::encode(const QString &text)
{
    if (!available())
        return text.toLatin1();
    QStringEncoder encoder = makeEncoder();
    return encoder.encode(text);
}

QString Cp949::decode(const QByteArray &bytes)
{
    if (!available())
        return QString::fromLatin1(bytes);
    QStringDecoder decoder = makeDecoder();
    return decoder.decode(bytes);
}

bool Cp949::canEncode(const QString &text)
{
    if (!available()) {
        for (QChar c : text) {
            if (c.unicode() > 0xff)
                return false;
        }
        return true;
    }
    QStringEncoder encoder = makeEncoder();
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError() && decode(bytes) == text;
}

int Cp949::byteLength(const QString &text)
{
    return int(encode(text).size());
}

QString Cp949::truncateToBytes(const QString &text, int maxBytes)
{
    if (maxBytes <= 0)
        return QString();
    if (byteLength(text) <= maxBytes)
        return text;
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        qsizetype next = end + 1;
        if (text.at(end).isHighSurrogate() && next < text.size() && text.at(next).isLowSurrogate())
            ++next;
        const int length = byteLength(text.mid(end, next - end));
        if (used + length > maxBytes)
            break;
        used += length;
        end = next;
    }
    return text.left(end);
}
