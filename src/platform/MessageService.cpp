#include "platform/MessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <atomic>

namespace skm {
namespace {

class TDialogMessageService final : public TMessageService {
public:
  void ShowMessage(const QString& text) override {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() != app->thread()) {
      QMetaObject::invokeMethod(app, [text] { QMessageBox::information(nullptr, QString(), text); },
                                Qt::QueuedConnection);
      return;
    }
    QMessageBox::information(nullptr, QString(), text);
  }
  bool Confirm(const QString& text) override {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return false;
    return QMessageBox::question(nullptr, QString(), text) == QMessageBox::Yes;
  }
  bool ConfirmDefaultNo(const QString& text) override {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return false;
    return QMessageBox::question(nullptr, QString(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  }
};

TDialogMessageService gDefaultService;
std::atomic<TMessageService*> gService{nullptr};

} // namespace

TMessageService& MessageService() {
  TMessageService* s = gService.load();
  return s ? *s : gDefaultService;
}

void SetMessageService(TMessageService* service) { gService.store(service); }

void ShowMessage(const QString& text) { MessageService().ShowMessage(text); }
bool Confirm(const QString& text) { return MessageService().Confirm(text); }
bool ConfirmDefaultNo(const QString& text) { return MessageService().ConfirmDefaultNo(text); }

} // namespace skm
