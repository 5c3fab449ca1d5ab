// Creating the disc-catalog extracters registered in the program's component registry:
// one class by its CLSID, a list of classes, or every class of the extracter category,
// each with its author, description and version. The recognizer and the command-line
// tool use it.
#pragma once

#include "com/Com.h"
#include "extracter/contract/ISLLBExtracter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

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

// Why the class could not be created, in Russian, naming it by its registered
// description (else its ProgID, else its CLSID).
QString CreationFailureText(REFCLSID clsid, HRESULT hr);

// An HRESULT as messages show it: "0x80004005".
QString HResultText(HRESULT hr);

// How an extracter is named in messages: its ProgID, else its CLSID.
QString ExtracterName(const TExtracterHandle& h);

}  // namespace lb
