// "lbtools3-cli extract FOLDER [SONG...] [--class CLSID|ProgID]": lists the extracters
// registered in the extracter category, asks each whether it recognises FOLDER as a
// disc root, and prints what the first recognising one (or the named one) answers for
// each SONG, both records field by field.
#pragma once

#include "com/Com.h"
#include "extracter/contract/ISLLBExtracter.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <vector>

// args are the words after "extract". Exit codes: 0 done, 1 no extracter recognises the
// folder, 2 bad arguments or the named class cannot be created.
int RunExtractCommand(const QStringList& args, QTextStream& out, QTextStream& err);

namespace lb {

struct TExtracterHandle {
  CLSID clsid = GUID_NULL;
  QString progId;  // empty when the class has none
  ComPtr<ISLLBExtracter> extracter;
  QString author;
  QString description;
  UINT version = 0;
};

// Creates one extracter by CLSID and reads its Author, Description and Version.
HRESULT CreateExtracter(REFCLSID clsid, TExtracterHandle* handle);

// Creates each listed class in order. A class that cannot be created is skipped; each
// such failure is described in failures.
std::vector<TExtracterHandle> CreateExtracters(const QList<CLSID>& classes, QStringList* failures);

// The same for every class registered in the extracter category, in registry order.
std::vector<TExtracterHandle> CreateCategoryExtracters(QStringList* failures);

// A class named by its CLSID text or its ProgID; false when neither names a class.
bool ClassFromName(const QString& name, CLSID* clsid);

// How an extracter is named in messages: its ProgID, else its CLSID.
QString ExtracterName(const TExtracterHandle& h);

}  // namespace lb
