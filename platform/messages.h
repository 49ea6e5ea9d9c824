#pragma once
#include <QString>
#include <memory>

class QWidget;

enum class MessageIcon { Error, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No, Cancelled };

// Every message box of the shell goes through this service. It also knows whether the program
// has been told to end: while termination is pending nothing is shown and every box counts as
// cancelled, so a start-up that has already failed does not pile up dialogs.
class Messages
{
public:
    virtual ~Messages() = default;

    // An empty caption means the application title (TITLE of Main.ini).
    virtual MessageAnswer show(const QString &text, MessageIcon icon,
                               MessageButtons buttons = MessageButtons::Ok,
                               const QString &caption = {}) = 0;
    // Ends the boxes open now as if the user had cancelled them (No for a question). The boxes
    // of the running program are modal dialogs and are ended with every other open window.
    virtual void cancelOpen() {}

    void setApplicationTitle(const QString &title) { m_title = title; }
    QString applicationTitle() const { return m_title; }

    void requestTermination() { m_terminationPending = true; }
    bool terminationPending() const { return m_terminationPending; }
    void resetTermination() { m_terminationPending = false; }

    // The QMessageBox-backed service of the running program.
    static std::unique_ptr<Messages> createSystem(QWidget *defaultParent = nullptr);

protected:
    QString captionFor(const QString &caption) const { return caption.isEmpty() ? m_title : caption; }

private:
    QString m_title;
    bool m_terminationPending = false;
};
