// "lbtools3-cli extract FOLDER [SONG...] [--class CLSID|ProgID]": lists the extracters
// registered in the extracter category, asks each whether it recognises FOLDER as a
// disc root, and prints what the first recognising one (or the named one) answers for
// each SONG, both records field by field.
#pragma once

#include "CliContext.h"

#include <QStringList>

// args are the words after "extract". Exit codes: 0 done, 1 no extracter recognises the
// folder, 2 bad arguments or the named class cannot be created.
int RunExtractCommand(CliContext& c, const QStringList& args);
