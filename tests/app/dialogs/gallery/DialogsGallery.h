#pragma once
// The setup dialog and the about box in the light and the dark theme, rendered into one
// picture for a person to look at; the tests read a few of its controls' pixels.
//
// Threads: UI thread; needs a QApplication. Changes the settings (gSettings, ThemeFlags)
// and the application's style while it renders, and leaves the light style applied.

#include <QImage>

namespace skmgallery {

// One theme's pictures of the two dialogs (client areas, device pixel ratio 1). The setup
// dialog shows the built-in defaults in the light theme (frame splitter off, its boxes
// disabled) and switches and splitter on in the dark theme.
struct TDialogShots {
  QImage Setup;     // 850 x 367
  QImage About;     // 512 x 256
  QImage ThemeList; // the theme combo box's open list
};
TDialogShots RenderDialogs(bool light);

// The four pictures with captions: light on the left, dark on the right.
QImage RenderDialogsGallery();

} // namespace skmgallery
