// The guard of the update check and the download (shell/FtpWork.h): the command's download folder,
// and the close that waited for the command's end.
#include "shell/FtpWork.h"

#include <QMetaObject>

FtpWork::FtpWork(TFPral &form) : m_form(form)
{
    // The outermost command takes the download folder once, for all that it and the check it runs
    // read and write: a folder changed on the page "Config" meanwhile counts from the next one.
    if (m_form.m_ftpBusy++ == 0)
        m_form.m_carpetaComando = m_form.CarpetaDelTexto();
}

FtpWork::~FtpWork()
{
    if (--m_form.m_ftpBusy > 0 || !m_form.m_closePending)
        return;
    m_form.m_closePending = false;
    // Posted, not called: the command unwinds first, and the close then runs from the message
    // loop like the user's own (QUIT, then the settings are saved).
    TFPral *form = &m_form;
    QMetaObject::invokeMethod(
        form, [form] { form->Close(); }, Qt::QueuedConnection);
}
