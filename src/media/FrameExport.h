#pragma once
// Headless commands for users and scripts: write the frame the viewer would show at a
// frame number to an image file, or print a movie's frame facts.
//
// Threads: call from the main thread with a QCoreApplication present (no event loop
// needs to run). Messages go to stderr, the facts to stdout; each returns the process
// exit code (0 on success).

#include <QString>
#include <QtGlobal>

class QImage;

namespace skm {

// Opens movie and takes frame `frame` (its time is frame x Step) exactly as the viewer
// shows it. 0 on success with the picture in image; otherwise 1 after a message on stderr.
int GrabMovieFrame(const QString& movie, qint64 frame, QImage& image);

// Opens movie, seeks to frame x Step and writes that frame to out (format by its
// extension, PNG for ".png"), through a temporary file and a rename.
int RunExportFrame(const QString& movie, qint64 frame, const QString& out);

// Prints width, height, frame rate, step, duration and the number of frames of movie.
int RunFrameInfo(const QString& movie);

} // namespace skm
