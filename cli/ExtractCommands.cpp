// The disc-catalog extracters from the command line.
#include "CliContext.h"
#include "ExtractCommand.h"

QList<CliCommandInfo> ExtractCommands() {
  return {
      {"extract", "FOLDER [SONG...] [--class CLSID|ProgID]",
       "зарегистрированные экстракторы; кто из них узнаёт FOLDER как корень диска и что он "
       "сообщает о каждой песне SONG",
       RunExtractCommand},
  };
}
