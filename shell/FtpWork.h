#pragma once
// The guard of the update check and the download, shared by both.
#include "shell/Pral.h"

// Marks the main form as working with the FTP client for its lifetime; the outermost mark takes
// the command's download folder. While any such mark exists, closing the window cancels the
// command's wait and the close runs once the last mark is gone, so QUIT is never sent in the
// middle of another command.
class FtpWork {
public:
    explicit FtpWork(TFPral &form);
    ~FtpWork();
    FtpWork(const FtpWork &) = delete;
    FtpWork &operator=(const FtpWork &) = delete;

private:
    TFPral &m_form;
};
