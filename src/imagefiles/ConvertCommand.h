#pragma once
// The headless "--convert IN OUT" command: reads IN as the still-image open does and
// writes OUT by its extension (PNG, JPEG, BMP through Qt; TGA; PSD).
//
// Threads: UI thread (Qt's image plugins need a QGuiApplication or QCoreApplication).

#include <QString>

namespace skm {

// Converts in to out. Returns 0 on success; otherwise prints one line to stderr and
// returns 1 when in cannot be read (the line says why), 2 when out cannot be written.
int RunConvertCommand(const QString& in, const QString& out);

} // namespace skm
