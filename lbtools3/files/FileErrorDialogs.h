// The error dialogs of the file operations: TNewErRenameFile (a file could not be
// renamed, copied or moved) and TNewErCreateDir (a folder could not be created). They
// are asked on the main thread, also when a worker runs the operation.
#pragma once

#include "FileOperation.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TNewErRenameFile : public QDialog, public lb::IFileErrorPrompt {
  Q_OBJECT
 public:
  explicit TNewErRenameFile(QWidget* parent = nullptr);

  int Ask(const lb::TFileErrorInfo& info, QString& newName) override;

  QLineEdit* EditPath;
  QLineEdit* EditPath2;
  QLabel* LabelError;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;
  QRadioButton* RadioButton5;
  QRadioButton* RadioButton6;
  QRadioButton* RadioButton7;
  QLineEdit* EditNewName;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 private:
  QString m_LastSource, m_LastTarget;
};

class TNewErCreateDir : public QDialog, public lb::IDirErrorPrompt {
  Q_OBJECT
 public:
  explicit TNewErCreateDir(QWidget* parent = nullptr);

  int Ask(const QString& path, const QString& error, QString& newName) override;

  QLineEdit* EditPath;
  QLabel* LabelError;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QLineEdit* EditNewName;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
};
