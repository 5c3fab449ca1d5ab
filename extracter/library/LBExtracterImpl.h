// The three extracters of the LBCOMExtracter server. Each recognises one family of
// music discs by its characteristic files and answers a song's title and album from
// that disc's own catalog.
#pragma once

#include "extracter/contract/ISLLBExtracter.h"

#include "platform/FileSystem.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <map>
#include <optional>
#include <vector>

// The largest disc catalog read. Catalogs are small text files; only regular files
// are read at all (lb::ReadRegularFile), so a FIFO or a device under a catalog's name
// neither hangs nor floods the reader.
inline constexpr qint64 kMaxCatalogBytes = 16 << 20;

// What distinguishes one extracter class from the others in the server's tables.
struct TExtracterClassInfo {
  CLSID clsid;
  const char* progId;
  const char* className;        // coclass name
  const char* helpString;       // coclass help string, the CLSID key's description
  const char16_t* description;  // Description shown to the user
};

// Common part of the three classes: reference counting with aggregation (the object
// has its own non-delegating IUnknown; when aggregated, the interface's IUnknown calls
// go to the outer object), the dispatch side, the constant members, the disc root and
// the rules every GetSongInfo starts with.
class TLBExtracterBase : public ISLLBExtracter {
 public:
  TLBExtracterBase(const TExtracterClassInfo& info, IUnknown* outer);
  virtual ~TLBExtracterBase();
  TLBExtracterBase(const TLBExtracterBase&) = delete;
  TLBExtracterBase& operator=(const TLBExtracterBase&) = delete;

  // The non-delegating IUnknown the class factory hands out.
  IUnknown* Inner() { return &m_Inner; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* dispIds) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                   UINT* argErr) override;

  HRESULT STDMETHODCALLTYPE get_Author(LPOLESTR* Value) override;
  HRESULT STDMETHODCALLTYPE get_Description(LPOLESTR* Value) override;
  HRESULT STDMETHODCALLTYPE Recognize(LPOLESTR pwszPath, LONG* pulFieldsMask) override;
  HRESULT STDMETHODCALLTYPE GetSongInfo(LPOLESTR pwszSongPath, LBSongTagID3v1* TagID3v1,
                                        LBSongTagID3v2* TagID3v2, LONG* pulFieldsMask) override;
  HRESULT STDMETHODCALLTYPE GetSongText(LPOLESTR pwszSongPath, BSTR* bstrText) override;
  HRESULT STDMETHODCALLTYPE get_Version(UINT* Value) override;

 protected:
  // True when the folder (ending with "/") is the root of one of this class's discs.
  virtual bool IsDiscRoot(const QString& root) = 0;
  // Called after a successful Recognize has stored the new root.
  virtual void OnRecognized() {}
  // The song lies below the root; S_OK when the catalog answers for it.
  virtual HRESULT AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2) = 0;

  const QString& Root() const { return m_Root; }
  // Writes the title or the album into both records: the fixed field cut to its width,
  // the BSTR whole.
  static void WriteTitle(const QString& title, LBSongTagID3v1& v1, LBSongTagID3v2& v2);
  static void WriteAlbum(const QString& album, LBSongTagID3v1& v1, LBSongTagID3v2& v2);
  // Folder and file name parts of a song path.
  static QString FolderOf(const QString& songPath);
  static QString FileNameOf(const QString& songPath);

 private:
  class TInner : public IUnknown {
   public:
    explicit TInner(TLBExtracterBase* owner) : m_Owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_RefCount; }
    ULONG STDMETHODCALLTYPE Release() override;

   private:
    TLBExtracterBase* m_Owner;
    std::atomic<ULONG> m_RefCount{1};
  };

  const TExtracterClassInfo& m_Info;
  TInner m_Inner;
  IUnknown* m_Outer;  // the controlling unknown: the outer object or m_Inner
  QString m_Root;     // empty until the first successful Recognize
};

// Discs with the folders "musi" and "set": the catalog SET\proba.ann lists quoted
// title/album pairs, matched to the files of a song's folder by position.
class TLBExtracterType1Impl : public TLBExtracterBase {
 public:
  explicit TLBExtracterType1Impl(IUnknown* outer = nullptr);

  struct Item {
    QString Title;
    QString Album;
  };
  // Parses the catalog text (already converted from the OEM code page).
  static std::vector<Item> ParseCatalog(const QString& text);

 protected:
  bool IsDiscRoot(const QString& root) override;
  void OnRecognized() override { m_Items.clear(); }
  HRESULT AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2) override;

 private:
  std::vector<Item> m_Items;
};

// Discs with "setup\dir.www" and the folder "mus&song": line N of the album list names
// the album of folder N, line T of ZzN.www in that folder the title of song T.
// Each catalog file is read once per recognition (a disc's songs are asked one after
// the other).
class TLBExtracterType2Impl : public TLBExtracterBase {
 public:
  explicit TLBExtracterType2Impl(IUnknown* outer = nullptr);

 protected:
  bool IsDiscRoot(const QString& root) override;
  void OnRecognized() override { m_Catalogs.clear(); }
  HRESULT AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2) override;

 private:
  // Line n (from 1) of a catalog file: empty when the file cannot be read, a null text
  // when it has fewer lines.
  std::optional<QString> CatalogLine(const QString& path, int n);

  QHash<QString, QStringList> m_Catalogs;  // the lines of each catalog read so far
};

// Discs with "tracker.ini" in the root: an INI catalog with the albums in section
// "Main" and, per song folder, SndFileK/SoundK pairs of file name and title.
// A folder's section is gathered once per recognition, so a disc's songs do not read a
// large catalog once per key.
class TLBExtracterType3Impl : public TLBExtracterBase {
 public:
  explicit TLBExtracterType3Impl(IUnknown* outer = nullptr);

 protected:
  bool IsDiscRoot(const QString& root) override;
  void OnRecognized() override { m_Sections.clear(); }
  HRESULT AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2) override;

 private:
  // The SndFile keys of a section in file order, with their values upper-cased.
  using TSection = std::vector<std::pair<QString, QString>>;
  const TSection& Section(const QString& catalog, const QString& name);

  std::map<QString, TSection> m_Sections;  // by case-folded section name (kept in place)
};

extern const TExtracterClassInfo kExtracterType1Info;
extern const TExtracterClassInfo kExtracterType2Info;
extern const TExtracterClassInfo kExtracterType3Info;
