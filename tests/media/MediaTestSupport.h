#pragma once
// Shared helpers of the media tests: a message service that records instead of showing.

#include <QString>
#include <QStringList>
#include <mutex>

#include "platform/MessageService.h"

namespace skmtest {

class TRecordingMessages final : public skm::TMessageService {
public:
  TRecordingMessages() { skm::SetMessageService(this); }
  ~TRecordingMessages() override { skm::SetMessageService(nullptr); }
  void ShowMessage(const QString& text) override {
    std::lock_guard g(mu_);
    texts_ << text;
  }
  bool Confirm(const QString& text) override {
    ShowMessage(text);
    return false;
  }
  QStringList Texts() {
    std::lock_guard g(mu_);
    return texts_;
  }

private:
  std::mutex mu_;
  QStringList texts_;
};

} // namespace skmtest
