// The zu module's own identity: its type library, its interface (no members of its
// own) and its class. The class also answers ISLLBExtracter of the extracter contract.
#pragma once

#include "com/Com.h"

// Type library "ZULib" ("zu 1.0 Type Library"), version 1.0, locale 0x409.
// {A549BEB2-02EF-46EC-970B-D69FD910E372}
inline constexpr GUID LIBID_ZULib = {
    0xA549BEB2, 0x02EF, 0x46EC, {0x97, 0x0B, 0xD6, 0x9F, 0xD9, 0x10, 0xE3, 0x72}};
// {19C10C0D-A3A6-4653-ADAE-85706925A5FE}
inline constexpr IID IID_ITagExtracter = {
    0x19C10C0D, 0xA3A6, 0x4653, {0xAD, 0xAE, 0x85, 0x70, 0x69, 0x25, 0xA5, 0xFE}};
// {D2AABEAE-2FDD-4A8E-B141-FA0ECBB22911}
inline constexpr CLSID CLSID_TagExtracter = {
    0xD2AABEAE, 0x2FDD, 0x4A8E, {0xB1, 0x41, 0xFA, 0x0E, 0xCB, 0xB2, 0x29, 0x11}};

inline constexpr const char* kZuProgId = "Zu.TagExtracter.1";
inline constexpr const char* kZuVersionIndependentProgId = "Zu.TagExtracter";

// Dual interface with no members beyond IDispatch.
class ITagExtracter : public IDispatch {};
