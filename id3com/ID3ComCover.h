// The cover picture of the file an ID3Com object is bound to: a second interface of
// the same object, asked for with QueryInterface. Pictures are read only when asked
// for here, never by Link, so reading tags stays as fast with pictures as without.
#pragma once

#include "id3com/ID3Com.h"

// {23A918C5-2BD9-48CD-B69C-EC76A16EEDD9}
inline constexpr IID IID_IID3ComCover = {
    0x23A918C5, 0x2BD9, 0x48CD, {0xB6, 0x9C, 0xEC, 0x76, 0xA1, 0x6E, 0xED, 0xD9}};

// PutCover's answers for bytes that are no JPEG, PNG, GIF or WebP picture, and for a
// picture larger than lb::kMaxCoverBytes.
// ReadCover's answer for a picture shown for want of a cover (a back cover, say): a
// new cover goes beside it and a removal leaves it.
inline constexpr HRESULT ID3COM_S_NOTCOVER = 2;
inline constexpr HRESULT ID3COM_E_NOTIMAGE = static_cast<HRESULT>(0x80040310u);
inline constexpr HRESULT ID3COM_E_IMAGETOOLARGE = static_cast<HRESULT>(0x80040311u);

// The cover is the front-cover picture (ID3v2 APIC or v2.2 PIC, FLAC PICTURE blocks,
// METADATA_BLOCK_PICTURE of Ogg files, MP4 covr, WM/Picture, APE "Cover Art (Front)");
// a file with no picture marked front shows its first picture instead, and one marked
// "other" counts as its cover (the first covr atom of an MP4 file is its cover).
class IID3ComCover : public IUnknown {
 public:
  // Reads the bound file's cover from the file now. *data points at its bytes, valid
  // until the next call on the object; *mime is its type told from the bytes (as the
  // file states it when they are of no known kind). S_FALSE, *size 0, when the file
  // holds no picture; ID3COM_S_NOTCOVER when it is not the cover.
  virtual HRESULT STDMETHODCALLTYPE ReadCover(const unsigned char** data, LONG* size,
                                              BSTR* mime) = 0;
  // The next SaveV2Tag puts these bytes, as they are, into the file as its front cover
  // (in place of the cover it had; its other pictures stay). Refused, changing
  // nothing, for bytes of no known picture kind or too many of them.
  virtual HRESULT STDMETHODCALLTYPE PutCover(const unsigned char* data, LONG size) = 0;
  // The next SaveV2Tag removes the cover (the other pictures stay).
  virtual HRESULT STDMETHODCALLTYPE RemoveCover() = 0;
};

// {5C0E7A1D-94B2-4F63-A8D5-3E1B6C2F9072}: a new identity since PutCoverBack came, so
// that a component registered before it is never asked for it.
inline constexpr IID IID_IID3ComCoverDetails = {
    0x5C0E7A1D, 0x94B2, 0x4F63, {0xA8, 0xD5, 0x3E, 0x1B, 0x6C, 0x2F, 0x90, 0x72}};

// A third interface of the tag object, asked for with QueryInterface: a component
// registered from an earlier build lacks it, and its callers then put a cover back as a
// front cover with no description.
class IID3ComCoverDetails : public IUnknown {
 public:
  // How the file holds the cover ReadCover last read, so that it can be put back as it
  // was: its description (the file name an APE item gives), picture type (-1 where the
  // format has none), ID3v2 text encoding and the MIME type the file states.
  virtual HRESULT STDMETHODCALLTYPE GetCoverDetails(BSTR* description, LONG* type, LONG* encoding,
                                                    BSTR* statedMime) = 0;
  // PutCover with those details instead of a front cover's, as GetCoverDetails gave them.
  // The bytes came from the file itself: only their size is checked, not their kind.
  virtual HRESULT STDMETHODCALLTYPE PutCoverAsWas(const unsigned char* data, LONG size,
                                                  BSTR description, LONG type, LONG encoding,
                                                  BSTR statedMime) = 0;
  // PutCoverAsWas for a cover the file no longer holds (a removal took it): the next
  // SaveV2Tag puts it back in front of the file's pictures and takes none of them out.
  virtual HRESULT STDMETHODCALLTYPE PutCoverBack(const unsigned char* data, LONG size,
                                                 BSTR description, LONG type, LONG encoding,
                                                 BSTR statedMime) = 0;
};
