#include "widgets/koreanfonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

void installKoreanFontSubstitutes()
{
    struct Substitute {
        const char *family;      // as the windows name it (UTF-8)
        const char *english;     // the same Windows font under its English name
        const char *nanum;
    };
    static const Substitute substitutes[] = {
        {"굴림", "Gulim", "NanumGothic"},
        {"굴림체", "GulimChe", "NanumGothicCoding"},
        {"바탕", "Batang", "NanumMyeongjo"},
    };

    const QStringList installed = QFontDatabase::families();
    const auto isInstalled = [&installed](const QString &family) {
        return installed.contains(family, Qt::CaseInsensitive);
    };
    for (const Substitute &s : substitutes) {
        const QString family = QString::fromUtf8(s.family);
        const QString english = QString::fromLatin1(s.english);
        if (isInstalled(family) || isInstalled(english))
            continue;
        // The other Nanum Gothic fonts stand in when the preferred one is missing too.
        const QStringList nanum = {QString::fromLatin1(s.nanum), QStringLiteral("NanumGothic"),
                                   QStringLiteral("NanumBarunGothic")};
        QFont::insertSubstitutions(family, nanum);
        QFont::insertSubstitutions(english, nanum);
    }
}
