#pragma once
// Shared helpers of the media tests: a message service that records instead of showing, and
// a wait that keeps the Qt event loop running.

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/MessageService.h"

namespace skmtest {

// Runs the event loop until pred holds; false after ms.
template <class Pred>
bool Spin(Pred pred, int ms = 15'000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

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
