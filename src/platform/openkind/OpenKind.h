#pragma once
// What a file given to a lane is: a still picture, a movie, or nothing this program can
// open. The extension says first; a name whose extension does not say is decided by the
// content: a picture our readers or Qt's recognise by its signature, else a file FFmpeg
// probes as having pictures it can decode. When nothing can be opened, a reason in words
// the user can act on.
//
// Threads: any.

#include <QString>
#include <QStringList>

namespace skm {

enum TOpenKind : int {
  kOpenNothing = 0,  // nothing, or not something this program opens
  kOpenStill = 1,    // a still picture
  kOpenMovie = 2,    // a movie
};

// The kind the extension of fileName names (from the last "." of the name part, without
// regard to case): pictures ".jpg", ".jpeg", ".png", ".bmp", ".psd", ".hdr"; movies
// ".mp4", ".mov", ".m4v", ".mkv", ".webm", ".avi", ".mpg", ".mpeg", ".ts", ".mts",
// ".m2ts", ".wmv", ".flv", ".ogv", ".3gp". kOpenNothing for any other or none.
int KindByExtension(const QString& fileName);
// The extensions KindByExtension names for kind (lower case, with the dot; empty for any
// other kind), for file dialogs and the desktop entry.
const QStringList& KindExtensions(int kind);

// Why path cannot be opened as a file at all, in words ("... does not exist", "... is a
// folder, not a file", "... cannot be read: permission denied", "... is a device or
// other special file", "... is empty"); empty for a readable regular file with content.
QString FileProblem(const QString& path);
// The words for an error number met opening path (ENOENT, EACCES, EISDIR, ...).
QString FileErrorText(const QString& path, int err);

struct TOpenDecision {
  int kind = kOpenNothing;
  QString reason;  // when kind is kOpenNothing: what is wrong, in words
};

// The kind of the file at path: FileProblem first; then its extension; a name whose
// extension does not say by its content. Bounded: the image signatures read a few bytes,
// FFmpeg's probe reads what its probe needs.
TOpenDecision DecideOpen(const QString& path);

// KindByExtension when the extension says, else DecideOpen's kind; remembers the last
// content decisions per file (name, size, time of change), so that asking again about a
// lane's file costs a stat.
int KindOf(const QString& fileName);

} // namespace skm
