#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "platform/FMXUtils.h"

using namespace skm;

namespace {

void Feed(QEvent::Type type, int key, quint32 nativeSym = 0, bool autoRepeat = false,
          Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent e(type, key, mods, 0, nativeSym, 0, QString(), autoRepeat);
  KeyTableFeed(&e);
}

} // namespace

TEST(KeyTable, CodesTable) {
  struct Row {
    int qtKey;
    quint32 sym;
    int code;
  };
  const Row rows[] = {
      {Qt::Key_A, 0, 0x41},        {Qt::Key_Z, 0, 0x5A},         {Qt::Key_Space, 0, 0x20},
      {Qt::Key_Shift, 0xffe1, 0xA0}, {Qt::Key_Shift, 0xffe2, 0xA1}, {Qt::Key_Control, 0xffe3, 0xA2},
      {Qt::Key_Control, 0xffe4, 0xA3}, {Qt::Key_Alt, 0xffe9, 0xA4}, {Qt::Key_Alt, 0xffea, 0xA5},
      {Qt::Key_Enter, 0xff8d, 0x6C}, {Qt::Key_Return, 0xff0d, 0x0D}, {Qt::Key_Shift, 0, 0xA0},
  };
  for (const Row& r : rows) {
    KeyTableClear();
    QKeyEvent down(QEvent::KeyPress, r.qtKey, Qt::NoModifier, 0, r.sym, 0);
    EXPECT_EQ(KeyTableFeed(&down), r.code) << std::hex << r.qtKey;
    EXPECT_TRUE(KeyIsDown(r.code));
    QKeyEvent up(QEvent::KeyRelease, r.qtKey, Qt::NoModifier, 0, r.sym, 0);
    KeyTableFeed(&up);
    EXPECT_FALSE(KeyIsDown(r.code));
  }
}

TEST(KeyTable, KeypadEnterNeverSetsReturn) {
  KeyTableClear();
  Feed(QEvent::KeyPress, Qt::Key_Enter, 0xff8d, false, Qt::KeypadModifier);
  EXPECT_TRUE(KeyIsDown(vk::Separator));
  EXPECT_FALSE(KeyIsDown(vk::Return));
}

TEST(KeyTable, EitherShiftCtrlAltAnswersTheGenericCode) {
  KeyTableClear();
  EXPECT_FALSE(KeyIsDown(vk::Shift));
  Feed(QEvent::KeyPress, Qt::Key_Shift, 0xffe2);
  EXPECT_TRUE(KeyIsDown(vk::Shift));
  EXPECT_FALSE(KeyIsDown(vk::LShift));
  Feed(QEvent::KeyPress, Qt::Key_Shift, 0xffe1);
  Feed(QEvent::KeyRelease, Qt::Key_Shift, 0xffe2);
  EXPECT_TRUE(KeyIsDown(vk::Shift)); // the left one is still held
  Feed(QEvent::KeyRelease, Qt::Key_Shift, 0xffe1);
  EXPECT_FALSE(KeyIsDown(vk::Shift));
  Feed(QEvent::KeyPress, Qt::Key_Control, 0xffe4);
  EXPECT_TRUE(KeyIsDown(vk::Control));
  Feed(QEvent::KeyPress, Qt::Key_Alt, 0xffe9);
  EXPECT_TRUE(KeyIsDown(vk::Menu));
  EXPECT_FALSE(KeyIsDown(-1));
  EXPECT_FALSE(KeyIsDown(256));
}

TEST(KeyTable, AutoRepeatKeepsTheKeyHeld) {
  KeyTableClear();
  Feed(QEvent::KeyPress, Qt::Key_V);
  Feed(QEvent::KeyRelease, Qt::Key_V, 0, /*autoRepeat=*/true);
  Feed(QEvent::KeyPress, Qt::Key_V, 0, true);
  EXPECT_TRUE(KeyIsDown(0x56));
  Feed(QEvent::KeyRelease, Qt::Key_V);
  EXPECT_FALSE(KeyIsDown(0x56));
}

TEST(KeyTable, ApplicationFilterSeesKeysSentToAnyWidgetAndClearsOnDeactivation) {
  KeyHookInstall();
  KeyTableClear();
  QWidget w;
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QApplication::sendEvent(&w, &down);
  EXPECT_TRUE(KeyIsDown(vk::Space));
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(KeyIsDown(vk::Space));
}
