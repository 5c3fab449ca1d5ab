// The context-menu handler that hands the selected paths to the running program,
// starting it when it does not run.
#pragma once

#include "ShellInterfaces.h"
#include "com/Server.h"
#include "platform/NamedObjects.h"

#include <QString>
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

 private:
  void DropMapping();

  std::unique_ptr<lb::TNamedMapping> m_Mapping;
  int64_t m_Size = 0;
};
