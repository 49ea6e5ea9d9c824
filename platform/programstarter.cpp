#include "programstarter.h"

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList splitWindowsCommandLine(const QString &commandLine)
{
    QStringList args;
    const int n = commandLine.size();
    if (n == 0)
        return args;
    int i = 0;

    // The program name: up to the next quote when it starts with one, else up to the next
    // blank; no escapes at all, since a path cannot hold a quote.
    QString program;
    if (commandLine.at(0) == u'"') {
        i = 1;
        while (i < n && commandLine.at(i) != u'"')
            program.append(commandLine.at(i++));
        if (i < n)
            ++i;  // the closing quote
    } else {
        while (i < n && !isBlank(commandLine.at(i)))
            program.append(commandLine.at(i++));
    }
    args.append(program);
    while (i < n && isBlank(commandLine.at(i)))
        ++i;

    while (i < n) {
        QString arg;
        int backslashes = 0;
        int quotes = 0;  // 1 inside a quoted part
        while (i < n) {
            const QChar c = commandLine.at(i);
            if (isBlank(c) && quotes == 0)
                break;
            if (c == u'\\') {
                arg.append(c);
                ++backslashes;
                ++i;
                continue;
            }
            if (c != u'"') {
                arg.append(c);
                backslashes = 0;
                ++i;
                continue;
            }
            if (backslashes % 2 == 0) {
                // 2n backslashes and a quote: n backslashes, and the quote groups.
                arg.chop(backslashes / 2);
                ++quotes;
            } else {
                // 2n+1 backslashes and a quote: n backslashes and a literal quote.
                arg.chop(backslashes / 2 + 1);
                arg.append(u'"');
            }
            backslashes = 0;
            ++i;
            // A run of quotes: every third one is literal ("" inside a quoted part gives a
            // quote and ends the part).
            while (i < n && commandLine.at(i) == u'"') {
                if (++quotes == 3) {
                    arg.append(u'"');
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2)
                quotes = 0;
        }
        args.append(arg);
        while (i < n && isBlank(commandLine.at(i)))
            ++i;
    }
    return args;
}
