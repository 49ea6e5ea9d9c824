#include "testshell.h"

#include "platform/cp949.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTest>

namespace TestShell {

bool run(const QString &program, const QStringList &arguments, QByteArray *output, QString *error)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        if (error)
            *error = program + QStringLiteral(": ") + process.errorString();
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
                     + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

bool install(const QString &dir, const QString &service, const QString &projects, QString *error)
{
    const QString build = QStringLiteral(ORSA_BINARY_DIR);
    const QDir target(dir);
    for (const auto &[from, to] : {std::pair<QString, QString>{QStringLiteral("/app/orsa"), QStringLiteral("orsa")},
                                   {QStringLiteral("/demo/MainImg.dll"), QStringLiteral("MainImg.dll")}}) {
        if (!QFile::copy(build + from, target.filePath(to))) {
            *error = QStringLiteral("cannot copy %1 into %2").arg(build + from, dir);
            return false;
        }
    }
    QFile ini(target.filePath(QStringLiteral("Main.ini")));
    if (!ini.open(QIODevice::WriteOnly)) {
        *error = ini.fileName() + QStringLiteral(": ") + ini.errorString();
        return false;
    }
    ini.write(Cp949::encode(
        QStringLiteral("[MAIN]\r\nTITLE=오르사 통합시스템\r\nDRIVER=POSTGRESQL\r\nDATABASE=%1\r\n"
                       "IMAGE_WIDTH=96\r\nIMAGE_HEIGHT=40\r\nMINIMIZE=596,6,16,16\r\nCLOSE=616,6,16,16\r\n"
                       "[PROJECTS]\r\n%2"
                       "[LOGIN]\r\nCLOSE=332,10,18,18\r\nID=112,71,146,18\r\nPASSWORD=112,109,146,18\r\n"
                       "LOGIN=272,68,68,62\r\nPASSCHANGE=230,160,110,24\r\n")
            .arg(service, projects)));
    return true;
}

QList<WindowId> windowsOf(WindowSystem &windows, const QProcess &process, const QString &className)
{
    QList<WindowId> found;
    if (process.state() != QProcess::Running)
        return found;
    QByteArray output;
    run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(process.processId())},
        &output);
    QSet<WindowId> ofProcess;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.trimmed().isEmpty())
            ofProcess.insert(line.trimmed().toULongLong());
    }
    for (const TopLevelWindow &window : windows.topLevelWindows()) {
        if (!ofProcess.contains(window.id))
            continue;
        const bool ours = window.className.startsWith(QLatin1String("Tfrm"));
        if (className.isEmpty() ? !ours : window.className == className)
            found.append(window.id);
    }
    return found;
}

WindowId waitForWindow(WindowSystem &windows, const QProcess &process, const QString &className,
                       int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QList<WindowId> found = windowsOf(windows, process, className);
        if (!found.isEmpty())
            return found.first();
        QTest::qWait(100);
    }
    return 0;
}

bool typeInto(WindowId window, const QStringList &keys)
{
    const QString xdotool = QStringLiteral("xdotool");
    if (!run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)}))
        return false;
    for (const QString &key : keys) {
        const bool named = key.startsWith(QLatin1Char('<'));
        const QStringList arguments =
            named ? QStringList{QStringLiteral("key"), key.mid(1, key.size() - 2)}
                  : QStringList{QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), key};
        if (!run(xdotool, arguments))
            return false;
    }
    return true;
}

void start(QProcess &process, const QString &dir, const QString &runtimeDir, quint16 port)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QString::number(port));
    environment.remove(QStringLiteral("ORSA_SET_CLOCK"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QDir(dir).filePath(QStringLiteral("orsa")), {QStringLiteral("orsa_demo")});
}

bool logIn(WindowId loginWindow, const QString &empNo, const QString &password)
{
    return typeInto(loginWindow, {empNo, QStringLiteral("<Return>"), password, QStringLiteral("<Return>")});
}

} // namespace TestShell
