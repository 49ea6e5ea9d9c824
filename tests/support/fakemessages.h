#pragma once
#include "platform/messages.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// Records every message the code under test shows and answers the Yes/No questions from a
// script (Yes when the script has run out).
class FakeMessages final : public Messages
{
public:
    struct Shown
    {
        QString text;
        MessageIcon icon;
        MessageButtons buttons;
        QString caption;  // as it would appear: the application title filled in
    };

    MessageAnswer show(const QString &text, MessageIcon icon, MessageButtons buttons,
                       const QString &caption) override
    {
        if (terminationPending()) {
            suppressed.append({text, icon, buttons, captionFor(caption)});
            return MessageAnswer::Cancelled;
        }
        shown.append({text, icon, buttons, captionFor(caption)});
        const int cancelsBefore = cancels;
        if (onShow)
            onShow(shown.last());
        // Ended from outside while it was open, as the shell ends its windows for an eviction.
        if (cancels != cancelsBefore)
            return MessageAnswer::Cancelled;
        if (buttons == MessageButtons::YesNo)
            return answers.isEmpty() ? MessageAnswer::Yes : answers.takeFirst();
        return MessageAnswer::Ok;
    }

    QStringList texts() const
    {
        QStringList list;
        for (const Shown &s : shown)
            list.append(s.text);
        return list;
    }

    void cancelOpen() override { ++cancels; }

    QList<Shown> shown;
    QList<Shown> suppressed;          // asked for while termination was pending
    QList<MessageAnswer> answers;     // scripted answers to Yes/No questions
    std::function<void(const Shown &)> onShow;   // runs while the box is open
    int cancels = 0;                              // cancelOpen calls
};
