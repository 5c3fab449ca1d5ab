// The widget implementation of the user-interface seam: message boxes with Russian
// button texts, questions with "to all" answers, pending-message processing, calls
// run on the main thread, the busy cursor, the desktop clipboard, file dialogs and
// progress windows (TInfoWindow).
#pragma once

#include "platform/UiServices.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QFileDialog;

class QtUiServices : public UiServices {
 public:
  QtUiServices() = default;

  // The window that progress windows centre on and disable.
  void SetMainWindow(QWidget* window) { m_MainWindow = window; }
  QWidget* MainWindow() const { return m_MainWindow; }

  // The clipboard's MIME type for a format name.
  static QString MimeType(const QString& format);

  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
  int AskButtons(const QString& text, const QString& caption, unsigned buttons,
                 unsigned icon) override;
  int MessageBoxWithHelp(const QString& text, const QString& caption, unsigned flags,
                         int helpContext) override;
  void ProcessMessages() override;
  void RunOnMainThread(const std::function<void()>& fn) override;
  void SetBusyCursor(bool busy) override;
  bool SetClipboardData(const QString& format, const QByteArray& data) override;
  bool GetClipboardData(const QString& format, QByteArray* data) override;
  QStringList GetOpenFileNames(const QString& title, const QString& folder,
                               const QString& filter) override;
  QString GetSaveFileName(const QString& title, const QString& fileName,
                          const QString& filter) override;
  QString GetExistingFolder(const QString& title, const QString& folder) override;
  std::unique_ptr<IProgressView> CreateProgressView(std::function<void()> onStop) override;
  bool MainWindowEnabled() const override;
  void SetMainWindowEnabled(bool enabled) override;

  // A file's size as the file dialogs show it ("4,9 КБ").
  static QString FileSizeText(qint64 bytes);
  // Where a file dialog opens when its caller names no folder: the folder last chosen
  // in one, at first the user's music folder.
  QString StartFolder(const QString& folder) const;
  // Notes the folder of the files the user chose.
  void RememberFolder(const QString& path, bool isFolder);

 private:
  QWidget* DialogParent() const;
  int RunMessageBox(const QString& text, const QString& caption, unsigned flags, int helpContext);
  // Runs a file dialog with Qt's own widgets (they speak Russian, sizes included).
  QStringList RunFileDialog(QFileDialog& dialog);

  QPointer<QWidget> m_MainWindow;
  bool m_bMainEnabled = true;  // when there is no main window
  int m_nBusy = 0;
  QString m_LastFolder;
};
