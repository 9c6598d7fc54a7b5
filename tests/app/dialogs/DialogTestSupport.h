#pragma once
// Helpers for driving a modal dialog from a test: the actions run inside the dialog's
// own modal loop, and a watchdog closes a dialog the actions left open so a faulty test
// fails instead of hanging.

#include <gtest/gtest.h>

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "platform/MessageService.h"

namespace skmtest {

// Runs `execute` (which opens `dialog` modally) while `actions` drive the shown dialog.
// The actions must close it (a click on OK or Cancel, a key, a close event).
template <class Execute>
auto RunModal(QDialog& dialog, Execute execute, std::function<void()> actions) {
  bool ran = false;
  QTimer::singleShot(0, &dialog, [&] {
    ran = true;
    EXPECT_TRUE(dialog.isVisible());
    actions();
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] {
    if (!dialog.isVisible()) return;
    ADD_FAILURE() << "the dialog was left open";
    dialog.reject();
  });
  watchdog.start(20000);
  auto result = execute();
  EXPECT_TRUE(ran) << "the dialog's modal loop never ran the actions";
  EXPECT_FALSE(dialog.isVisible());
  return result;
}

// A message service that answers questions from a script and records everything.
class TScriptedMessages final : public skm::TMessageService {
public:
  bool AnswerYes = false;
  QStringList Shown;   // ShowMessage texts
  QStringList Asked;   // questions, in order
  QList<bool> DefaultNo; // per question: asked with No as the default button

  void ShowMessage(const QString& text) override { Shown << text; }
  bool Confirm(const QString& text) override {
    Asked << text;
    DefaultNo << false;
    return AnswerYes;
  }
  bool ConfirmDefaultNo(const QString& text) override {
    Asked << text;
    DefaultNo << true;
    return AnswerYes;
  }
};

} // namespace skmtest
