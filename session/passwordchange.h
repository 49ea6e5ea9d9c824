#pragma once
#include "session/sessioninterfaces.h"

class Messages;
class Tfrm_ZD000;
class WindowSystem;
struct SharedValues;

// Opens the password change window modally for one change and frees it again.
class PasswordChange : public PasswordChanger
{
public:
    PasswordChange(Tfrm_ZD000 &database, Messages &messages, const SharedValues &shared,
                   WindowSystem *windows = nullptr);

    void changePassword(QWidget *owner, const QString &TargetEmpNo, const QString &CurrentPassword,
                        bool MayClose) override;

private:
    Tfrm_ZD000 &m_database;
    Messages &m_messages;
    const SharedValues &m_shared;
    WindowSystem *m_windows;
};
