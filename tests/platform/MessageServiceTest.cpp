#include <gtest/gtest.h>

#include <QStringList>

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
