#pragma once
// The about box: the product's name, the build's version, the maker and a link to the
// product page, over a skin picture that follows the theme.
//
// Threads: UI thread only. The box is modal; Execute returns when it closes.
// Ownership: the controls belong to the box; the box belongs to its parent window (the
// main window), over which it is centred.

#include <QDialog>
#include <QColor>
#include <functional>

class QLabel;
class QPushButton;

namespace skm {

// A rectangle filled with one (usually translucent) colour and no outline.
class TFillRect final : public QWidget {
  Q_OBJECT
public:
  explicit TFillRect(QWidget* parent);
  QColor Fill() const { return FFill; }
  void SetFill(QColor fill);
protected:
  void paintEvent(QPaintEvent* event) override;
private:
  QColor FFill;
};

class TFrmAbout final : public QDialog {
  Q_OBJECT
public:
  // Creates the box hidden; its texts are set here once (FormCreate).
  explicit TFrmAbout(QWidget* parent = nullptr);

  // ThemeUpdate, then shows the box modally.
  void Execute();
  // Takes the skin and colours of the theme in effect and makes its style
  // ("WIN10LIGHT"/"WIN10DARK") the application's.
  void ThemeUpdate();

  // The product page's address: the Japanese page when IsJapanese, else the English one
  // (both set at build time: SKM_PRODUCT_URL_JA, SKM_PRODUCT_URL_EN).
  static QString ProductUrl();

  // Theme colours (ARGB).
  static constexpr quint32 kRectTopDark = 0x88444444u, kRectTopLight = 0x88222222u;
  static constexpr quint32 kRectBottomDark = 0x88222222u, kRectBottomLight = 0x88888888u;
  static constexpr quint32 kLinkDark = 0xFFAAAAFFu, kLinkLight = 0xFF0000FFu;

  // The controls (public for the tests and gallery), in tree order.
  QLabel* Image2 = nullptr;      // the skin, 512 x 256, not scaled
  TFillRect* RectTop = nullptr;  // translucent strip along the top, 64 high
  QLabel* LbTitle = nullptr;     // "Sketchmark Movies"
  QLabel* Image1 = nullptr;      // the program icon (44 x 44) in a 64 x 64 cell
  QWidget* GridPanelLayout1 = nullptr;
  QLabel* LbVersion = nullptr;   // "Ver." + the four numbers of the build
  QLabel* LbProduct = nullptr;   // the maker
  QLabel* LbURL = nullptr;       // the product page; a click opens it (ShellOpen)
  TFillRect* RectBottom = nullptr; // translucent strip along the bottom, 40 high
  QPushButton* ButtonOK = nullptr;

  // Whether the last ThemeUpdate took the dark look.
  bool isDark = false;

public slots:
  // Opens the product page in the user's browser (ShellOpen); a failure is not reported.
  void LbURLClick();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The about button's command: HideOverlay (hide RectangleC), then the box's Execute.
void TraBtnAboutExecute(TFrmAbout& frmAbout, const std::function<void()>& hideOverlay);

} // namespace skm
