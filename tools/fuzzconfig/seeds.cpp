// Writes the seed corpus of the configuration reader's fuzz target: Main.ini as an installation
// has it (code page 949), a role file, PelUpdate.ini, a file with the UTF-8 mark, and one with
// the oddities the reader must take (quotes, duplicates, keys without values, lone CRs).

#include "platform/cp949.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: fuzz_config_seeds CORPUS_DIR\n");
        return 2;
    }
    const QDir dir(app.arguments().at(1));
    const QList<QPair<QString, QByteArray>> seeds{
        {QStringLiteral("main.ini"),
         Cp949::encode(QStringLiteral("[MAIN]\r\nTITLE=오르사 통합시스템\r\nDRIVER=POSTGRESQL\r\n"
                                      "DATABASE=orsa\r\nPROJECT_COUNT=$3\r\nIMAGE_WIDTH=96\r\n"
                                      "IMAGE_HEIGHT=0x28\r\nUPDATE_EXE=PelUpdate.exe\r\n"
                                      "MINIMIZE=596,6,16,16\r\nCLOSE=616, 6,16,16\r\n\r\n"
                                      "[PROJECTS]\r\n프런트=ORSA_A;204,32\r\n객실관리=ORSA_B; 308 , 12345\r\n"
                                      "예약=\r\n\r\n[LOGIN]\r\nCLOSE=332,10,18,18\r\nID=112,71,146,18\r\n"
                                      "PASSWORD=112,109,146,18\r\nLOGIN=272,68,68,62\r\n"
                                      "PASSCHANGE=230,160,110,24\r\n"))},
        {QStringLiteral("role.ini"),
         Cp949::encode(QStringLiteral("[Role]\r\nType=2\r\nCode=20\r\nName=객실팀\r\n[Other]\r\nKeep=1\r\n"))},
        {QStringLiteral("pelupdate.ini"),
         QByteArrayLiteral("[SERVER]\nURL=http://127.0.0.1:8080/update\n")},
        {QStringLiteral("utf8.ini"),
         QByteArrayLiteral("\xEF\xBB\xBF[MAIN]\nTITLE=\xEC\x98\xA4\xEB\xA5\xB4\xEC\x82\xAC\n")},
        {QStringLiteral("odd.ini"),
         QByteArrayLiteral("before=section\r[main]\r\n ; comment\r\n title = \" quoted \" \r\n"
                           "TITLE=second\r\nnovalue\r\n[MAIN]\r\nDRIVER=oracle\r\n[LOGIN]\r\n"
                           "ID=10 ,20,30,40\r\nPASSWORD=1,2,3,4,5\r\nLOGIN='1,2,3,4'\r\n")},
    };
    for (const auto &[name, bytes] : seeds) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "fuzz_config_seeds: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
