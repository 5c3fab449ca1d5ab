// The program's start-up rules and its channels to other processes, without widgets:
// the command-line switches, the run-time registry key, the shell hand-over payload
// and the hot-key hotKeys.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "lbtools3/settings/Settings.h"
#include "platform/UiServices.h"
#include <cstdint>
#include <optional>

namespace lb {
class TNamedEvent;
}

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

// The single-instance decision. Creating the instance event decides it: one process
// owns the name while it lives. A later start asks that owner for the port it
// publishes once its window exists and raises that window (Raised). An owner that is
// slow to answer still owns the name: the start asks again until waitMs ends
// (Unanswered) and never runs as a second program. Only when the owner's process is
// gone does this process take the name over (First). First also when no named object
// can be made at all: the program then runs without the guard.
enum class TInstanceDecision { First, Raised, Unanswered };
TInstanceDecision TakeInstanceOrRaiseFirst(TNamedEvent& instance, int waitMs = 30000);

// The shell hand-over payload: NUL-terminated paths one after another, ended by an
// empty string. Bytes after the end mark, and a last path without its NUL, are
// ignored. Paths are UTF-8.
QStringList ParseHandOverPaths(const QByteArray& bytes);
QByteArray BuildHandOverPayload(const QStringList& paths);

// The files and folders named on the command line (arguments after the program name
// that name something that exists), made absolute.
QStringList FilesOnCommandLine(const QStringList& arguments);
// Hands the paths to the running program the way the shell extension does: the payload
// in the hand-over mapping, then the hand-over message to the program's main window.
// False when no program took them.
bool HandOverToRunningProgram(const QStringList& paths, int timeoutMs = 10000);

// Limits of one hand-over: far above a thousand paths of the longest length a path may
// have, far below what could exhaust the memory.
inline constexpr int64_t kMaxHandOverBytes = 8 * 1024 * 1024;
inline constexpr int kMaxHandOverPaths = 20000;
// Reads the hand-over mapping of that size, which the sender holds while it waits for
// the answer, and returns its paths. The read runs on a worker thread while the calling
// thread's event loop goes on, so the window stays responsive and answers other
// messages. Nothing when the size is 0 or above the limit, when the mapping cannot be
// read within timeoutMs, or when it holds more than kMaxHandOverPaths paths.
std::optional<QStringList> ReadHandOverMapping(uint64_t size, int timeoutMs = 5000);

// The slots that a hot-key message with this code runs, in slot order: those whose key
// matches and which are global.
QList<int> SlotsForHotKeyMessage(const THotKeySlots& hotKeys, uint16_t code);

// The answers given while the program ends on a termination signal (the session ends,
// kill), when nobody may be there: every question gets its default button (a modified
// list is saved), and a save dialog takes the proposed name unless something has that
// name already, which is then never replaced unasked (the save is cancelled).
class TUnattendedUiServices : public CoreUiServices {
 public:
  QString GetSaveFileName(const QString& title, const QString& fileName,
                          const QString& filter) override;
};

}  // namespace lb
