#include "platform/messages.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace {

class SystemMessages final : public Messages
{
public:
    explicit SystemMessages(QWidget *parent) : m_parent(parent) {}

    MessageAnswer show(const QString &text, MessageIcon icon, MessageButtons buttons,
                       const QString &caption) override
    {
        if (terminationPending())
            return MessageAnswer::Cancelled;
        QMessageBox box(m_parent);
        switch (icon) {
        case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        }
        box.setWindowTitle(captionFor(caption));
        // The suite's texts separate their lines with a bare carriage return.
        QString shown = text;
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        // Plain text always: a database's error or a value from Main.ini is never markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(shown);
        // The buttons read as on a Korean desktop, whatever translations the toolkit has.
        if (buttons == MessageButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.button(QMessageBox::Yes)->setText(QStringLiteral("예(&Y)"));
            box.button(QMessageBox::No)->setText(QStringLiteral("아니요(&N)"));
            box.setDefaultButton(QMessageBox::Yes);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
            box.button(QMessageBox::Ok)->setText(QStringLiteral("확인"));
            box.setDefaultButton(QMessageBox::Ok);
        }
        const int result = box.exec();
        if (buttons == MessageButtons::YesNo)
            return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
        return MessageAnswer::Ok;
    }

private:
    QPointer<QWidget> m_parent;
};

} // namespace

std::unique_ptr<Messages> Messages::createSystem(QWidget *defaultParent)
{
    return std::make_unique<SystemMessages>(defaultParent);
}
