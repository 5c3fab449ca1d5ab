// The file manager's two objects for a context-menu handler: the selection (the paths
// in the dropped-files format) and a menu that records the items put into it.
#pragma once

#include "ShellInterfaces.h"

#include <QList>
#include <QString>
#include <QStringList>

class TShellDataObject : public TRefCounted<IShellDataObject> {
 public:
  explicit TShellDataObject(QStringList paths) : m_Paths(std::move(paths)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IShellDataObject>(this, IID_IShellDataObject, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE GetData(UINT format, BSTR* data) override {
    if (!data) return E_POINTER;
    *data = nullptr;
    if (format != CF_HDROP || m_Paths.isEmpty()) return E_INVALIDARG;
    QString block;
    for (const QString& path : m_Paths) block += path + QChar(u'\0');
    block += QChar(u'\0');
    *data = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(block.utf16()), UINT(block.size()));
    return *data ? S_OK : E_OUTOFMEMORY;
  }

 private:
  QStringList m_Paths;
};

class TShellMenu : public TRefCounted<IShellMenu> {
 public:
  struct Item {
    UINT commandId;
    QString text;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IShellMenu>(this, IID_IShellMenu, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE InsertMenuItem(UINT position, UINT commandId, LPCOLESTR text) override {
    if (!text) return E_POINTER;
    const qsizetype at = std::min<qsizetype>(position, m_Items.size());
    m_Items.insert(at, Item{commandId, QString::fromUtf16(text)});
    return S_OK;
  }
  const QList<Item>& Items() const { return m_Items; }

 private:
  QList<Item> m_Items;
};
