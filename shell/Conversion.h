#pragma once
// The points map conversion: the downloaded map rewritten for the chosen device model, each point
// record kept, weakened or left out by the alert level set for its point type. The main form's
// Transformar reads its controls and calls in here; the tests and the benchmark driver call the
// same function with plain values.
//
// Points file: line 1 begins with the format mark "574C"; every further line is a record with its
// alert character at position 15 and its point type code "1" to "7" at position 16 (positions
// count bytes from 1). A record without a type (shorter than 16, or another character there) is
// never written.
#include "shell/DeviceModel.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace fw {
class TextFileReader;
class TextFileWriter;
}  // namespace fw

namespace shell {

// A device model is the device list's ItemIndex (DeviceModel); an index that names no model (no
// selection) converts like the Gray Rover II.

// The alert levels of one device model, for the type codes "1" to "7" in that order. Watcher
// levels run 0 to 3 ("Sin", "Min", "Med", "Máx"), Sentry III levels 0 to 2 ("Sin", "Med", "Máx");
// a level outside its model's range writes nothing.
inline constexpr int kPointTypes = 7;
using AlertLevels = std::array<int, kPointTypes>;

// The level bars that hold those levels, by component name, in type code order: the bar numbers do
// not follow the codes, since types "3" and "4" got their bars last.
inline constexpr std::array<const char *, kPointTypes> kWatcherLevelBars = {
    "cxTrackBar1", "cxTrackBar2", "cxTrackBar11", "cxTrackBar12", "cxTrackBar3", "cxTrackBar4", "cxTrackBar5"};
inline constexpr std::array<const char *, kPointTypes> kSentryLevelBars = {
    "cxTrackBar6", "cxTrackBar7", "cxTrackBar13", "cxTrackBar14", "cxTrackBar8", "cxTrackBar9", "cxTrackBar10"};

// The levels that apply to `deviceModel`, read from its seven level bars through `position`
// (component name -> the bar's Position); the other model's bars are not read. A model without
// levels (the Gray Rover II, no selection) gets zeros.
AlertLevels ReadAlertLevels(int deviceModel, const std::function<int(const char *barName)> &position);

// The download's file name in the download folder: the download writes it and the conversion reads
// and deletes it under this one name (Linux file names keep their letter case).
inline constexpr const char *kDownloadFileName = "temp.mdb";

enum class ConversionResult {
    Converted,      // the destination holds the converted map
    InvalidHeader,  // line 1 lacks the format mark; nothing was written
};

// Converts the points map `source` into `destination` for `deviceModel` with the levels of that
// model. The converted map is written to a part file in the destination's folder (fw::PartFile:
// a link under the destination's name is replaced, never written through), made durable and
// renamed over the destination only when everything succeeded: after an invalid header or an
// error an existing destination is left exactly as it was, no partial file remains, and the source
// is never touched. The source is opened first; a destination that exists but cannot be written
// counts as one that cannot be created. A source that this process put in place (fw::PlacedFile,
// the download) is read only if it is still that file: a link or another file under its name
// raises fw::Exception with DownloadReplacedText and converts nothing. Errors of the file layer leave as
// fw::EInOutError (the system's error code and its text); a line past the reader's cap as fw::Exception with
// OverlongLineText.
[[nodiscard]] ConversionResult ConvertPointsFile(const std::string &source, const std::string &destination,
                                                 int deviceModel, const AlertLevels &levels);

// The same through the caller's text file objects (the main form's FOrigen and FDestino): they are
// open only while the conversion runs and closed on every way out.
[[nodiscard]] ConversionResult ConvertPointsFile(fw::TextFileReader &origen, fw::TextFileWriter &destino,
                                                 const std::string &source, const std::string &destination,
                                                 int deviceModel, const AlertLevels &levels);

// Whether the device model has a conversion (the Sentry III and the Watcher); for any other the
// converted file would hold the header alone.
bool HasConversion(int deviceModel);
// The message for a model without a conversion: the download is kept as it came.
std::string NoConversionText(int deviceModel);

// True when line 1 of a file begins with the format mark (letter case counts).
bool HasPointsFileMark(std::string_view headerLine);

// The destination name check: the name, in lower case, contains ".mdb" somewhere.
bool IsPointsFileName(std::string_view fileName);

// A record with `alert` in place of its alert character: positions 1 to 14, `alert`, position 16;
// whatever follows position 16 is dropped. SinVel is this with "0"; level "Min" writes it with "F".
std::string AlertVariant(std::string_view record, char alert);

// Removes the download from the download folder; a failed removal is ignored (the next download
// replaces it).
void DeleteDownload(const std::string &folder);

// The conversion's messages, shown by Transformar in the plain message dialog (single-byte texts;
// a CR is a line break in the dialog).
const std::string &InvalidDestinationNameText();  // the destination name fails IsPointsFileName
const std::string &InvalidPointsFileText();       // ConversionResult::InvalidHeader
const std::string &MapReceivedText();             // ConversionResult::Converted, for every model
// The error raised by ConvertPointsFile for a line past the text reader's cap: no record is that
// long, so the file is no points file (and the previous map stays).
std::string OverlongLineText(size_t limit);
// The error for a download that another file has taken the place of before its conversion.
std::string DownloadReplacedText();

}  // namespace shell
