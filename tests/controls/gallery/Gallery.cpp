#include "Gallery.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>
#include <memory>

#include "controls/TraBtn.h"
#include "controls/TraValue.h"

namespace skmgallery {
namespace {

constexpr int kLabelWidth = 90;
constexpr int kCellStep = 70;
constexpr int kPanelTop = 24; // room for the column titles
constexpr int kPanelHeight = kPanelTop + kRows * kCellStep;
constexpr int kWidth = kLabelWidth + 4 * kCellStep + kTrackWidth + 10;
constexpr int kHeight = 2 * kPanelHeight;

// A play triangle and a square "stop" hole, so the down look shows a cut-out.
const char* const kPlayIcon = "M0.15,0 L0.95,0.5 L0.15,1 Z";

int ColumnX(TColumn c) { return kLabelWidth + static_cast<int>(c) * kCellStep; }

void Flush() {
  for (int i = 0; i < 4; ++i) QCoreApplication::sendPostedEvents();
}

} // namespace

QPoint CellOrigin(TTheme theme, TRow row, TColumn column) {
  return {ColumnX(column), theme * kPanelHeight + kPanelTop + static_cast<int>(row) * kCellStep};
}

QImage RenderGallery() {
  auto root = std::make_unique<QWidget>();
  root->setAttribute(Qt::WA_DontShowOnScreen);
  root->resize(kWidth, kHeight);
  for (int t = 0; t < 2; ++t) {
    const auto theme = static_cast<TTheme>(t);
    const bool dark = theme == kDark;
    auto* panel = new QWidget(root.get());
    panel->setGeometry(0, t * kPanelHeight, kWidth, kPanelHeight);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor::fromRgba(dark ? kDarkPanel : kLightPanel));
    panel->setPalette(pal);
    for (int r = 0; r < kRows; ++r) {
      const auto row = static_cast<TRow>(r);
      auto place = [&](TColumn c, int w) {
        auto* cell = new QWidget(root.get());
        const QPoint o = CellOrigin(theme, row, c);
        cell->setGeometry(o.x(), o.y(), w, 60);
        return cell;
      };
      std::vector<skm::TTraBtnBase*> controls;

      auto* icon = new skm::TTraBtn(place(kIconButton, 60));
      icon->SetIsDark(dark);
      icon->SetData(kPlayIcon);
      controls.push_back(icon);

      auto* filled = new skm::TTraBtn(place(kFilledButton, 60));
      filled->SetIsDark(dark);
      filled->SetData(kPlayIcon);
      filled->SetBColor(kButtonBackground);
      controls.push_back(filled);

      auto* volume = new skm::TTraVolume(place(kVolume, 60));
      volume->SetIsDark(dark);
      volume->SetValue(kVolumeValue);
      controls.push_back(volume);

      auto* gauge = skm::TTraValueF::CreateParam(place(kGauge, 60), kGaugeValue, dark, {});
      controls.push_back(gauge);

      auto* track = new skm::TTraTrack(place(kTrack, kTrackWidth));
      track->SetIsDark(dark);
      track->SetMax(kTrackMax);
      track->SetValue(kTrackValue);
      track->SetValue0(kTrackMarkA);
      track->SetValue1(kTrackMarkB);
      controls.push_back(track);

      for (auto* c : controls) {
        if (row == kHovered || row == kPressed) c->BtnMouseEnter();
        if (row == kPressed) c->skm::TTraBtnBase::BtnMouseDown(c, Qt::LeftButton, {}, 1, 50);
      }
      if (row == kDown) {
        icon->SetIsDown(true);
        filled->SetIsDown(true);
      }
    }
  }
  root->show();
  Flush();

  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  root->render(&image);

  QPainter p(&image);
  QFont font = p.font();
  font.setPixelSize(13);
  p.setFont(font);
  static const char* const rowNames[kRows] = {"idle", "hovered", "pressed", "down"};
  static const char* const columnNames[kColumns] = {"icon", "filled", "volume", "gauge", "track"};
  for (int t = 0; t < 2; ++t) {
    p.setPen(t == kDark ? Qt::white : Qt::black);
    for (int c = 0; c < kColumns; ++c)
      p.drawText(QPoint(ColumnX(static_cast<TColumn>(c)), t * kPanelHeight + 16), columnNames[c]);
    for (int r = 0; r < kRows; ++r) {
      const QPoint o = CellOrigin(static_cast<TTheme>(t), static_cast<TRow>(r), kIconButton);
      p.drawText(QPoint(8, o.y() + 34),
                 QString("%1 %2").arg(t == kDark ? "dark" : "light", rowNames[r]));
    }
  }
  return image;
}

} // namespace skmgallery
