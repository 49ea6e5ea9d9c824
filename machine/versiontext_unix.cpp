#include "machine/pelfunction.h"

#include "orsaconfig.h"

// An ELF executable carries no version resource: the version is the project's, compiled in.
QString GetVersionText()
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ORSA_VERSION_MAJOR)
        .arg(ORSA_VERSION_MINOR)
        .arg(ORSA_VERSION_PATCH)
        .arg(ORSA_VERSION_TWEAK);
}
