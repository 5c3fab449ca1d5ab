// The small windows of the main window: the about box, the greeting shown at the first
// run and the recommendation to read the guide.
#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QTimer;

// The program's picture, shared by the about box and the greeting.
QPixmap ProgramPicture();

// "О программе...": the versions of the program, fading in when shown.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  // "major.minor.patch.build" of the program.
  static QString VersionText();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  QLabel* m_Picture;
  QLabel* m_FileVersion;
  QLabel* m_ProductVersion;
  QTimer* m_Fade;
};

// "Приветствие...": fades in, stays a moment, fades out and closes itself.
class TRepresentationDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TRepresentationDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Step();
  QTimer* m_Timer;
  int m_Opacity = 0;  // 0..255
  enum { FadingIn, Holding, FadingOut } m_Phase = FadingIn;
};

// "Рекомендация": revealed like blinds; Yes opens the guide's main topic.
class TNewWelcomeDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TNewWelcomeDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Step();
  QTimer* m_Timer;
  int m_StripHeight = 0;
};
