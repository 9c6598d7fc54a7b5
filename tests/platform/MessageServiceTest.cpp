#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QImage>
#include <QStringList>

#include "TestSupport.h"

#include "platform/FMXUtils.h"
#include "platform/MessageService.h"

namespace {

class TRecorder final : public skm::TMessageService {
public:
  QStringList Shown;
  void ShowMessage(const QString& text) override { Shown << text; }
  bool Confirm(const QString& text) override {
    Shown << text;
    return true;
  }
};

} // namespace

TEST(MessageService, ReplacedServiceReceivesMessagesAndRestores) {
  TRecorder rec;
  skm::SetMessageService(&rec);
  skm::ShowMessage("hello");
  EXPECT_TRUE(skm::Confirm("sure?"));
  skm::SetMessageService(nullptr);
  EXPECT_EQ(rec.Shown, (QStringList{"hello", "sure?"}));
  EXPECT_NE(&skm::MessageService(), &rec);
}

TEST(PlatformHelpers, VersionHasFourNumbers) {
  EXPECT_EQ(skm::VersionText().split('.').size(), 4);
}

TEST(PlatformHelpers, RecycleDeleteRemovesTheFileAndFailsOnMissingOnes) {
  const skmtest::TTempHome home;
  const QString path = QString::fromStdString(home.Home()) + "/gone.zpp";
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("x");
  f.close();
  EXPECT_TRUE(skm::RecycleDelete(path));
  EXPECT_FALSE(QFile::exists(path));
  // It went to the test's own trash, not to the trash of whoever runs the tests.
  const QString trash = QString::fromStdString(home.TrashDir());
  EXPECT_TRUE(QFile::exists(trash + "/files/gone.zpp"));
  EXPECT_TRUE(QFile::exists(trash + "/info/gone.zpp.trashinfo"));
  EXPECT_FALSE(skm::RecycleDelete(path));

  // A replaced handler is asked instead; an empty one restores the desktop's trash.
  QStringList asked;
  skm::SetRecycleDeleteHandler([&](const QString& p) { asked << p; return false; });
  EXPECT_FALSE(skm::RecycleDelete("/nowhere/x.zpp"));
  skm::SetRecycleDeleteHandler({});
  EXPECT_EQ(asked, QStringList{"/nowhere/x.zpp"});
}

// The question before an irreversible step: Enter (the default button) answers No.
TEST(MessageService, ConfirmDefaultNoMakesNoTheDefaultButton) {
  bool sawBox = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll.stop();
    sawBox = true;
    EXPECT_EQ(box->text(), "Delete it?");
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::No));
    QTest::keyClick(box, Qt::Key_Return);
  });
  poll.start(10);
  EXPECT_FALSE(skm::ConfirmDefaultNo("Delete it?"));
  EXPECT_TRUE(sawBox);
}

TEST(PlatformHelpers, ResourcePicturesLoadPremultiplied) {
  QImage img;
  EXPECT_FALSE(skm::LoadFromResource(img, "NO_SUCH_RESOURCE"));
  EXPECT_TRUE(img.isNull());
}
