#include "app/startup.h"
#include "platform/operationslog.h"
#include "platform/toolkitarguments.h"

#include <QApplication>

int main(int argc, char **argv)
{
    installOperationsLog();
    ToolkitArguments arguments(argc, argv);
    QApplication app(arguments.count(), arguments.values());
    return runShell(app);
}
