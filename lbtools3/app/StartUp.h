// The program's start-up rules and its channels to other processes, without widgets:
// the command-line switches, the run-time registry key, the shell hand-over payload
// and the hot-key hotKeys.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Settings.h"
#include <cstdint>

namespace lb {

// The whole command line after the program name, compared byte for byte.
enum class TStartMode { Normal, ShellRegister, ShellUnregister, ShellInvoke };
TStartMode ClassifyCommandLine(const QString& commandLine);
// The command line as one string: the arguments after the program name joined by
// single blanks.
QString JoinCommandLine(const QStringList& arguments);

inline constexpr const char* kInstanceEventName = "{B14B566D-EDD6-4f5c-8E7D-7A0E22BC0FE4}";
inline constexpr const char* kHandOverMappingName = "{311A82FE-1F4B-4102-9E74-4086CE1CB596}";
inline constexpr const char* kRunTimeKey = "\\Software\\Corvane\\Lyrabox Tools";
inline constexpr unsigned kHotKeyMessage = 0x8001;
inline constexpr unsigned kHandOverMessage = 0x8002;
// Sent to the application's port by a second instance: show the first one's window.
inline constexpr unsigned kRaiseMessage = 0x8003;

// The run-time values under HKEY_CURRENT_USER that tell other processes where the
// running program is; the key exists only while the program runs. The handles are
// message-port handles (64-bit), stored as decimal text.
bool WriteRunTimeHandles(int64_t mainWindow, int64_t application);
bool ReadApplicationHandle(int64_t* application);  // false when the key is missing
void DeleteRunTimeKey();

// The shell hand-over payload: NUL-terminated paths one after another, ended by an
// empty string. Bytes after the end mark, and a last path without its NUL, are
// ignored. Paths are UTF-8.
QStringList ParseHandOverPaths(const QByteArray& bytes);
QByteArray BuildHandOverPayload(const QStringList& paths);

// The slots that a hot-key message with this code runs, in slot order: those whose key
// matches and which are global.
QList<int> SlotsForHotKeyMessage(const THotKeySlots& hotKeys, uint16_t code);

}  // namespace lb
