#include "toolkitarguments.h"

#include "windowsystem.h"

#include <QProcessEnvironment>
#include <QStringList>

ToolkitArguments::ToolkitArguments(int argc, char **argv) : m_option("-platform")
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    m_platform =
        WindowSystem::requiredPlatform(arguments, QProcessEnvironment::systemEnvironment());
    m_values.assign(argv, argv + argc);
    if (!m_platform.isEmpty() && !m_values.empty())
        m_values.insert(m_values.begin() + 1, {m_option.data(), m_platform.data()});
    m_count = static_cast<int>(m_values.size());
    m_values.push_back(nullptr);
}
