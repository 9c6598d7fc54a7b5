#include "app/Containers.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QPainter>

namespace skm {

TContainer::TContainer(QWidget* parent, const QString& name, TAlign align, QSize designSize, uint32_t fill)
    : QWidget(parent), FAlign(align), FDesignSize(designSize), FFill(fill) {
  setObjectName(name);
  resize(designSize);
}

void TContainer::SetDesignSize(QSize size) {
  FDesignSize = size;
  if (auto* p = qobject_cast<TContainer*>(parentWidget())) p->Realign();
  else if (FAlign == TAlign::None) resize(size);
}

void TContainer::SetFill(uint32_t argb) {
  FFill = argb;
  update();
}

void TContainer::SetFillOpacity(double opacity) {
  FOpacity = opacity;
  update();
}

void TContainer::Realign() { AlignChildren(this, rect()); }

void TContainer::paintEvent(QPaintEvent*) {
  if ((FFill >> 24) == 0) return;
  QPainter p(this);
  p.setOpacity(FOpacity);
  p.fillRect(rect(), QColor::fromRgba(FFill));
}

void TContainer::resizeEvent(QResizeEvent*) { Realign(); }

void TContainer::mousePressEvent(QMouseEvent* e) {
  if (!FHitTest) {
    e->ignore(); // to the parent
    return;
  }
  e->accept();
}

void TContainer::mouseReleaseEvent(QMouseEvent* e) {
  if (!FHitTest) {
    e->ignore();
    return;
  }
  e->accept();
  if (OnClick && rect().contains(e->position().toPoint())) OnClick();
}

void TContainer::childEvent(QChildEvent* e) {
  QWidget::childEvent(e);
  if (e->type() == QEvent::ChildAdded || e->type() == QEvent::ChildRemoved) Realign();
}

bool TContainer::event(QEvent* e) {
  // Hidden containers take no room, so the parent places its children again whenever
  // one of them is shown or hidden.
  if (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent)
    if (auto* p = qobject_cast<TContainer*>(parentWidget())) p->Realign();
  return QWidget::event(e);
}

void AlignChildren(QWidget* parent, QRect r) {
  for (QObject* o : parent->children()) {
    auto* c = qobject_cast<TContainer*>(o);
    if (!c || c->isHidden()) continue;
    const QSize d = c->DesignSize();
    switch (c->Align()) {
    case TAlign::Bottom:
      c->setGeometry(r.left(), r.bottom() + 1 - d.height(), r.width(), d.height());
      r.setBottom(r.bottom() - d.height());
      break;
    case TAlign::Left:
      c->setGeometry(r.left(), r.top(), d.width(), r.height());
      r.setLeft(r.left() + d.width());
      break;
    case TAlign::Right:
      c->setGeometry(r.right() + 1 - d.width(), r.top(), d.width(), r.height());
      r.setRight(r.right() - d.width());
      break;
    case TAlign::Client:
      c->setGeometry(r);
      break;
    case TAlign::Center:
      c->setGeometry(r.left() + (r.width() - d.width()) / 2, r.top() + (r.height() - d.height()) / 2, d.width(),
                     d.height());
      break;
    case TAlign::None:
      break;
    }
  }
}

} // namespace skm
