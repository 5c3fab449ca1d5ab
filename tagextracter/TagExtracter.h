// TagExtracter: an extracter for discs with the folders Winamp, Sounds and Texts in
// their root. It reads no catalog: a song's artist, album, year, track and title come
// from the names of its file and of the two folders above it.
#pragma once

#include "ITagExtracter.h"
#include "com/Server.h"
#include "extracter/contract/ISLLBExtracter.h"

#include <QString>

class TTagExtracterInterfaces : public ITagExtracter, public ISLLBExtracter {};

class TTagExtracter : public TComObject<TTagExtracterInterfaces> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

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

 private:
  HRESULT AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2);

  bool m_bHasRoot = false;
  QString m_Root;  // the last path given to Recognize
};
