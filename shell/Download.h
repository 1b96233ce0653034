#pragma once
// The download of the main form: the published map is fetched into the download folder as
// "temp.mdb" (held to the size the server gives for it and to the program's cap) and converted for
// the device model; once the device's file is in place it is recorded as the newest local map and
// greeted with a melody. It also shows every
// transfer of the FTP client: the status bar, the progress bar and the tray icon's animation.
#include "framework/Classes.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

class TFPral;

namespace shell {

class Download {
public:
    // Builds the beeper and the progress timer; `form` owns the download and outlives it.
    explicit Download(TFPral &form);

    // The command behind "Descargar" (the form's Descargar). A failure says so on the status bar.
    void Run();
    // Converts the download ("temp.mdb" in `folder`, an absolute folder) into the local map in the
    // same folder for the chosen device model by the alert levels, shows its closing message and
    // deletes the download (the form's Transformar, to the local map's name).
    void Convert(const std::string &folder);
    // The same to the map `name`; `ready` runs once the map is ready for the device (its file in
    // place, or the download itself for a model without a conversion), before the closing message.
    void Convert(const std::string &folder, const std::string &name, const std::function<void()> &ready);

    // The FTP client's transfer events, as the window shows them.
    void TransferStarted();
    void TransferProgress(std::int32_t byteCount);
    void TransferEnded();

private:
    void fetch();
    // The transfer's feedback is drawn at most every few hundredths of a second: a repaint per
    // block would cost the transfer more than the transfer itself. The last count always shows.
    void showProgress();

    TFPral &m_form;
    // While the map's own transfer runs, the size the server gave for it (-1: none); the transfer's
    // start shows it rather than asking again.
    bool m_mapTransfer = false;
    std::int32_t m_mapSize = -1;
    std::int32_t m_pendingByteCount = -1;
    QElapsedTimer m_progressShown;
    QTimer *m_progressLater;
};

}  // namespace shell
