#include "platform/operationslog.h"

#include <QtGlobal>

namespace {

QtMessageHandler previousHandler = nullptr;

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (previousHandler)
        previousHandler(type, context, message);
    const QLatin1String category(context.category ? context.category : "");
    if (category.startsWith(QLatin1String("orsa.")))
        OperationsLog::toSystemLog(category, message, type != QtDebugMsg && type != QtInfoMsg);
}

} // namespace

void installOperationsLog()
{
    if (previousHandler)
        return;
    previousHandler = qInstallMessageHandler(handleMessage);
}
