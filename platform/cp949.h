#pragma once
#include <QByteArray>
#include <QString>

// Code page 949, the encoding of every file the suite shares (Main.ini, PelUpdate.ini, role
// files) and the unit in which field and password lengths are counted.
//
// The conversion is ICU's "windows-949" (Unified Hangul Code, with the extended Hangul range
// such as "똠"); the name "CP949" would give IBM-949, which lacks that range.
namespace Cp949 {

// False when the ICU converter is missing from this Qt build; every other function then
// falls back to Latin-1 so that nothing crashes, but Korean text is lost.
bool available();

// Characters that code page 949 cannot represent become "?".
QByteArray encode(const QString &text);
// Byte sequences that are not code page 949 become U+FFFD.
QString decode(const QByteArray &bytes);

// True when every character of the text has a code page 949 form.
bool canEncode(const QString &text);

// Bytes of the code page 949 form: 1 per ASCII character, 2 per Hangul or Hanja.
int byteLength(const QString &text);

// The longest beginning of the text whose encoding takes at most maxBytes bytes; a
// double-byte character (or a surrogate pair) is never split.
QString truncateToBytes(const QString &text, int maxBytes);

} // namespace Cp949
