#pragma once
#include <QByteArray>
#include <vector>

// The command line a program of the suite starts the toolkit with: its own, with the platform
// that the suite requires added where one is needed (WindowSystem::requiredPlatform). The
// toolkit takes that option out again, so the program sees its own arguments only. The toolkit
// keeps using the count and the values: this object must outlive the application object.
class ToolkitArguments
{
public:
    ToolkitArguments(int argc, char **argv);
    ToolkitArguments(const ToolkitArguments &) = delete;
    ToolkitArguments &operator=(const ToolkitArguments &) = delete;

    int &count() { return m_count; }
    char **values() { return m_values.data(); }

private:
    QByteArray m_option;
    QByteArray m_platform;
    std::vector<char *> m_values;
    int m_count = 0;
};
