#pragma once
// The one place the program shows a message box. Tests replace the service so that no
// test ever blocks on a dialog and every message can be read back.
//
// Threads: ShowMessage may be called from any thread. Off the UI thread the default
// service queues the box onto the UI thread and returns at once.

#include <QString>

namespace skm {

class TMessageService {
public:
  virtual ~TMessageService() = default;
  // Shows an informational message with an OK button.
  virtual void ShowMessage(const QString& text) = 0;
  // Asks a yes/no question; true for yes. Off the UI thread the answer is no.
  virtual bool Confirm(const QString& text) = 0;
  // The same with No as the default button (what Enter chooses), for questions whose
  // Yes cannot be taken back. Services that do not care ask through Confirm.
  virtual bool ConfirmDefaultNo(const QString& text) { return Confirm(text); }
};

// The service in use (a QMessageBox-based one unless replaced).
TMessageService& MessageService();
// Replaces the service; nullptr restores the default. The caller keeps ownership.
void SetMessageService(TMessageService* service);

// Shorthands for MessageService().ShowMessage / Confirm / ConfirmDefaultNo.
void ShowMessage(const QString& text);
bool Confirm(const QString& text);
bool ConfirmDefaultNo(const QString& text);

} // namespace skm
