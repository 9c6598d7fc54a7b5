#pragma once
// What a file given to a lane is: a still picture, a movie, or nothing this program can
// open, by its extension.
//
// Threads: any.

#include <QString>

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

} // namespace skm
