// JPEG decoding for the pictures of the auxiliary windows.
//
// The two pictures (the sidewall drawing of the tire size calculator and the
// wait screen's portrait) are JPEG files compiled into the program as Qt
// resources.  They are decoded here with libjpeg(-turbo) called directly,
// not through Qt's image plugins, so the program does not depend on which
// plugins a Qt installation happens to ship.
//
// libjpeg reports fatal errors through a callback that by default calls
// exit(); this module installs an error manager that jumps back with
// longjmp, and it also treats libjpeg's corrupt-data warnings as errors, so
// a damaged picture never ends the program and never shows as a half-grey
// image.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace morvex {

// Decodes one JPEG image held in memory.
// Returns a Format_Grayscale8 image for a grayscale JPEG and a Format_RGB888
// image for a colour one (YCbCr or RGB; CMYK pictures are not supported).
// Raises morvex::Exception with a message that names the fault ("JPEG
// picture cannot be decoded: ...") for an empty, truncated or corrupt buffer.
QImage DecodeJpeg(const QByteArray& data);

// Reads `resource_path` (a Qt resource such as ":/images/sidewall.jpg" or a
// file name) and decodes it.  Raises morvex::Exception when the file cannot
// be read or decoded.
QImage LoadJpeg(const QString& resource_path);

}  // namespace morvex
