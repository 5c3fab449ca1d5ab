// The context-menu handler that hands the selected paths to the running program,
// starting it when it does not run.
#pragma once

#include "ShellInterfaces.h"
#include "com/Server.h"
#include "platform/NamedObjects.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// The item it adds, and its help text.
inline constexpr const char16_t* kShellMenuText = u"Добавить файлы в LBTools";
inline constexpr const char16_t* kShellMenuHelp =
    u"Запуск LBTools и добавление файлов в новый документ";

// How long InvokeCommand waits for a program it started: for the instance event to
// appear, and then for the program to signal that its window is ready.
inline constexpr int kStartPolls = 100;
inline constexpr int kStartPollMs = 100;
inline constexpr unsigned kReadyWaitMs = 30000;
// How long it waits while another hand-over holds the mapping's name.
inline constexpr int kBusyWaitMs = 60000;
// The most the program takes in one hand-over (its own limits); a larger selection goes
// over in parts, each into the same new list.
inline constexpr int kPartPaths = 20000;
inline constexpr qsizetype kPartBytes = 8 * 1024 * 1024;

// The texts of the failures the user is told of (the extension has no terminal).
inline constexpr const char16_t* kStartFailedText = u"Ошибка запуска программы LBTools";
inline constexpr const char16_t* kBusyText =
    u"Программа LBTools ещё принимает другие файлы. Выбранные файлы не переданы; "
    u"повторите команду позже.";
inline constexpr const char16_t* kRefusedText = u"Программа LBTools не приняла файлы.";
// %1 files of %2 arrived before the program stopped taking them.
inline constexpr const char16_t* kPartlyText =
    u"Программа LBTools приняла только %1 из %2 файлов; остальные не переданы.";

class TLBShellExtentionClassImpl : public TComObject<ILBShellExtentionClass>,
                                   public IShellExtInit,
                                   public IContextMenu {
 public:
  TLBShellExtentionClassImpl();
  ~TLBShellExtentionClassImpl() override;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return TComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TComObject::Release(); }

  HRESULT STDMETHODCALLTYPE Initialize(const void* folder, IShellDataObject* dataObject,
                                       const void* programKey) override;
  HRESULT STDMETHODCALLTYPE QueryContextMenu(IShellMenu* menu, UINT indexMenu, UINT idCmdFirst,
                                             UINT idCmdLast, UINT flags) override;
  HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT flags, UINT* reserved,
                                             char* buffer, UINT bufferSize) override;

  // The program to start: lbtools3 beside this module, or in ../../bin when the module
  // is installed in lib/lbtools/.
  static QString ProgramPath(const QString& moduleDir);
  // The hand-over payloads of a selection: NUL-ended UTF-8 paths and the closing NUL,
  // each within the program's limits, in the order of the selection.
  static QList<QByteArray> HandOverParts(const QStringList& paths);

 private:
  // The selection, kept from Initialize until InvokeCommand hands it over.
  QStringList m_Paths;
};
