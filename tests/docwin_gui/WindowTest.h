// The fixture of the document-window tests: an MDI area with a recording host, windows
// opened over documents that are never loaded from disk, and drags delivered as a real
// drag delivers them.
#pragma once

#include "FakeHost.h"

#include "docwin/DocWinTestUtil.h"
#include "lbtools3/docwin/DocumentWindow.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMdiArea>
#include <gtest/gtest.h>

class WindowTest : public ::testing::Test {
 protected:
  // A window over the document dir/name.m3u of songs named by the paths; songs whose
  // file is missing count as checked already, so a pass leaves their records alone.
  TMDIChild* OpenOver(const QStringList& paths, const QString& name) {
    TSlDocument source;
    docwintest::FillDocument(source, dir + "/" + name, paths);
    source.SetFileName(dir + "/" + name + ".m3u");
    for (int n = 0; n < source.m_Songs.size(); ++n)
      if (!QFile::exists(paths[n])) source.m_Songs[n].m_FileAge = kAgeMissing;
    source.m_bNew = false;
    auto* child = new TMDIChild(&area, &host, source.m_FileName, false, &source);
    child->ShowWindow();
    return child;
  }
  QStringList Missing(int count, const QString& prefix) const {
    return docwintest::MissingFiles(dir, count, prefix);
  }
  // The drag enters the widget, then moves over it or drops on it (the widget that
  // accepted the drag's entry is the one that gets the rest, as in a real drag).
  static void Drag(QWidget* widget, const QPoint& point, QMimeData* mime, QEvent::Type then,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(point, actions, mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(widget, &enter);
    if (then == QEvent::DragMove) {
      QDragMoveEvent move(point, actions, mime, Qt::LeftButton, modifiers);
      QApplication::sendEvent(widget, &move);
    } else {
      QDropEvent drop(QPointF(point), actions, mime, Qt::LeftButton, modifiers);
      QApplication::sendEvent(widget, &drop);
    }
  }

  ScriptedUiServices ui;
  FakeHost host;
  QMdiArea area;
  QString dir = lbtest::NewTempDir();
};
