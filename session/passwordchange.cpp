#include "session/passwordchange.h"

#include "session/tfrm_ah020.h"

PasswordChange::PasswordChange(Tfrm_ZD000 &database, Messages &messages, const SharedValues &shared,
                               WindowSystem *windows)
    : m_database(database), m_messages(messages), m_shared(shared), m_windows(windows)
{
}

void PasswordChange::changePassword(QWidget *owner, const QString &TargetEmpNo,
                                    const QString &CurrentPassword, bool MayClose)
{
    Tfrm_AH020 window(owner, m_database, m_messages, m_shared, m_windows);
    window.setTargetEmpNo(TargetEmpNo);
    window.setCurrentPassword(CurrentPassword);
    window.setMayClose(MayClose);
    window.exec();
}
